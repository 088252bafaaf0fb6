// SPDX-License-Identifier: GPL-3.0-or-later
// Replays a corpus through a fuzz target without libFuzzer: every file named
// on the command line, and every file inside every folder named there, is fed
// once to LLVMFuzzerTestOneInput. A broken invariant or a sanitizer report
// aborts the run, so CTest fails on any corpus input that ever found a fault.
#include "fuzzsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cstdio>

int main(int argc, char **argv)
{
    Fuzz::init();

    QStringList files;
    for (int i = 1; i < argc; ++i) {
        const QFileInfo info(QString::fromLocal8Bit(argv[i]));
        if (info.isDir()) {
            const QDir dir(info.filePath());
            for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden, QDir::Name))
                files.append(dir.filePath(name));
        } else {
            files.append(info.filePath());
        }
    }
    if (files.isEmpty()) {
        // An empty or misplaced corpus must not pass as a clean replay.
        std::fprintf(stderr, "usage: %s <corpus folder or file>...: no input found\n", argv[0]);
        return 2;
    }

    for (const QString &name : files) {
        QFile file(name);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(name));
            return 2;
        }
        const QByteArray input = file.readAll();
        std::fprintf(stderr, "replaying %s (%d bytes)\n", qPrintable(name), int(input.size()));
        std::fflush(stderr);
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(input.constData()),
                               size_t(input.size()));
    }
    std::fprintf(stderr, "%d inputs replayed\n", int(files.size()));
    return 0;
}
