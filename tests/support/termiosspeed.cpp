// SPDX-License-Identifier: GPL-3.0-or-later
// Kept apart from the other helpers: the kernel's termios2 (asm/termbits.h)
// cannot be included beside the C library's <termios.h>.
#include "testsupport.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

qint64 termiosOutputSpeed(int fd, bool *custom)
{
    struct termios2 t;
    if (::ioctl(fd, TCGETS2, &t) != 0)
        return -1;
    if (custom)
        *custom = (t.c_cflag & CBAUD) == BOTHER;
    return qint64(t.c_ospeed);
}
