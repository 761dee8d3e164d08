// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Turns SIGHUP, SIGTERM and SIGINT into a Qt signal on the user-interface thread, so the program
// ends through its orderly shut-down instead of dying mid-way.
#include <QObject>

class QSocketNotifier;

namespace postlark {

class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

signals:
    void Terminate(int signalNumber);

private:
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace postlark
