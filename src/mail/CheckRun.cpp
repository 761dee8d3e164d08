#include "mail/CheckRun.h"

#include "mail/CheckRunView.h"
#include "mail/Pop3Link.h"
#include "mail/Pop3Probe.h"
#include "platform/MsgBox.h"
#include "platform/Winsock.h"
#include "store/AccountRecord.h"
#include "store/AnsiText.h"
#include "store/SettingsStore.h"

#include <QDateTime>
#include <QLocale>
#include <cmath>

namespace postlark {

CheckRun::CheckRun(CheckRunView& view, Winsock& socket, Pop3Link& link, Pop3Probe& probe)
    : view_(view), socket_(socket), link_(link), probe_(probe) {}

std::int16_t CheckRun::ProgressStep(int accountCount) {
    return static_cast<std::int16_t>(std::lrint(10000.0 / accountCount));
}

QString CheckRun::NewMailText(std::int16_t result, const std::string& count) {
    switch (result) {
    case ResultNewMail:
        return "Yes, " + AnsiToQString(count);
    case ResultNoMail:
        return "No";
    case ResultBadPassword:
        return "Bad Password";
    case ResultFailed:
        return "Failed";
    default:
        return QString();
    }
}

QString CheckRun::LastCheckText(const QString& ending) {
    const QLocale locale = QLocale::system();
    const QDateTime now = QDateTime::currentDateTime();
    QString time = locale.timeFormat(QLocale::LongFormat);
    time.remove(QLatin1Char('t')).replace(QLatin1String("  "), QLatin1String(" "));
    return "Last Check: " + locale.toString(now.date(), QLocale::ShortFormat) + ' ' +
           locale.toString(now.time(), time.trimmed()) + ending;
}

void CheckRun::Run() {
    const int n = view_.AccountRowCount();
    if (n == 0) {
        MsgBox("No email accounts in list.", vbInformation, "Postlark");
        view_.EndRunControls();
        return;
    }
    probe_.ResetResults(n);
    newMailTexts_.assign(static_cast<size_t>(n), QString());
    view_.BeginRunControls();

    bool anyMail = false;
    const std::int16_t step = ProgressStep(n);
    view_.SetProgressPosition(0);
    for (int i = 0; i < n; ++i) {
        view_.SetStatusText("Checking " + AnsiToQString(SettingsStore::GetValue(
                                              AccountKey("EmailAddress", i), "")));
        link_.Begin(static_cast<std::int16_t>(i),
                    AnsiToQString(SettingsStore::GetValue(AccountKey("POP", i), "")));
        WaitWhileConnected(socket_);
        if (view_.Unloading()) {
            socket_.Close();
            return;
        }
        view_.SetProgressPosition(view_.ProgressPosition() + step);
    }

    for (int j = 0; j < n; ++j) {
        const auto result = probe_.CheckResults[static_cast<size_t>(j)];
        newMailTexts_[static_cast<size_t>(j)] =
            NewMailText(result, probe_.MessageCounts[static_cast<size_t>(j)]);
        anyMail = anyMail || result == ResultNewMail;
    }
    for (int k = 0; k < n; ++k)
        view_.SetNewMailText(k, newMailTexts_[static_cast<size_t>(k)]);
    view_.EnableLaunchAndCheck();
    if (anyMail)
        view_.GotMail();
    else
        view_.SetStatusText(LastCheckText(", no new mail."));
    view_.EndRunControls();
}

} // namespace postlark
