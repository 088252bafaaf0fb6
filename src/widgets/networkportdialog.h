// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

namespace Ui {
class NetworkPortDialog;
}

// "添加网络串口": the address of a serial port served over the network,
// checked as it is typed (OK stays disabled and the problem is shown while
// it is no usable address), and the network lines offered so far, each of
// which can be removed here.
class NetworkPortDialog : public QDialog
{
    Q_OBJECT
public:
    explicit NetworkPortDialog(const QStringList &lines, QWidget *parent = nullptr);
    ~NetworkPortDialog() override;

    // The address typed, written out in its plain form; empty while invalid.
    QString address() const { return m_address; }

signals:
    // The user removed `address` from the list.
    void removeRequested(const QString &address);

private:
    void check(const QString &text);
    void removeSelected();

    Ui::NetworkPortDialog *ui;
    QString m_address;
};
