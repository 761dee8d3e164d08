// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialogs/AboutForm.h"

#include "dialogs/AboutArtwork.h"
#include "dialogs/AppVersion.h"
#include "dialogs/LinkLabel.h"
#include "dialogs/MakerLinks.h"
#include "platform/shell/ShellExecute.h"
#include "platform/window/WindowLayer.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>

namespace postlark {

namespace {

// Where the licence's full text is: the installed copyright file beside the program's
// prefix, or else the LICENSE file of the source tree it was built from.
QString LicenceText() {
    const QString installed =
        QCoreApplication::applicationDirPath() + QStringLiteral("/../share/doc/postlark/copyright");
    return QFileInfo::exists(installed) ? QFileInfo(installed).canonicalFilePath()
                                        : QStringLiteral("the LICENSE file");
}

QFrame* Separator(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setObjectName(QStringLiteral("Line1"));
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

} // namespace

AboutForm::AboutForm(QWidget* owner, std::function<void()> checkForUpdates)
    : QDialog(owner), checkForUpdates_(std::move(checkForUpdates)) {
    setObjectName(QStringLiteral("AboutForm"));
    setWindowTitle(QStringLiteral("About Postlark"));
    setModal(true);
    // A fixed dialog: a title and a close box, nothing to minimize or maximize.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    // The dialog's background reports the pointer (it turns the links blue again).
    setMouseTracking(true);
    QFont font = this->font();
    font.setPointSizeF(8.25);
    setFont(font);

    Image1 = AboutPicture(AboutImage::Emblem, QStringLiteral("Image1"), this);
    Image2 = AboutPicture(AboutImage::Globe, QStringLiteral("Image2"), this);
    Image3 = AboutPicture(AboutImage::Letter, QStringLiteral("Image3"), this);

    lblTitle = new QLabel(QStringLiteral("Application Title"), this);
    lblTitle->setObjectName(QStringLiteral("lblTitle"));
    QFont titleFont = font;
    titleFont.setPointSizeF(13.5);
    titleFont.setBold(true);
    lblTitle->setFont(titleFont);
    lblVersion = new QLabel(QStringLiteral("Version"), this);
    lblVersion->setObjectName(QStringLiteral("lblVersion"));
    lblDescription =
        new QLabel(QStringLiteral("This program checks your email in multiple accounts."), this);
    lblDescription->setObjectName(QStringLiteral("lblDescription"));

    const QString mail = QString::fromLatin1(MakerLinks::SupportMail);
    BrenmoorWebSite = AddLink("Brenmoor Software Web Site", "BrenmoorWebSite",
                              QString::fromLatin1(MakerLinks::HomePage));
    BrenmoorMsgBrds = AddLink("Brenmoor Software Message Boards", "BrenmoorMsgBrds",
                              QString::fromLatin1(MakerLinks::MessageBoards));
    EmailBrenmoor = AddLink("E-mail Brenmoor Software", "EmailBrenmoor",
                            mail.mid(mail.indexOf(QLatin1Char(':')) + 1));
    UpdateCI = AddLink("Check For Updates", "UpdateCI", QString());

    Label1 = new QLabel(QString::fromUtf8("Copyright \u00a9 Brenmoor Software.  Licence "
                                          "GPL-3.0-or-later, with NO WARRANTY; full text in ") +
                            LicenceText() + QLatin1Char('.'),
                        this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setWordWrap(true);
    Line1 = {Separator(this), Separator(this)};

    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setDefault(true);
    cmdSysInfo = new QPushButton(QStringLiteral("&System Info..."), this);
    cmdSysInfo->setObjectName(QStringLiteral("cmdSysInfo"));
    for (QPushButton* b : {cmdOK, cmdSysInfo})
        b->setMinimumWidth(b->sizeHint().width() + 16);

    // Only the dialog's own background counts as leaving the links; the other controls keep
    // the pointer's moves to themselves.
    for (QWidget* w : std::initializer_list<QWidget*>{Image1, Image2, Image3, lblTitle, lblVersion,
                                                      lblDescription, Label1, Line1[0], Line1[1],
                                                      cmdOK, cmdSysInfo})
        w->setAttribute(Qt::WA_NoMousePropagation);

    auto* heading = new QVBoxLayout;
    heading->setSpacing(2);
    heading->addWidget(lblTitle);
    heading->addWidget(lblVersion);
    heading->addSpacing(6);
    heading->addWidget(lblDescription);
    heading->addStretch();
    auto* top = new QHBoxLayout;
    top->setSpacing(12);
    top->addWidget(Image1, 0, Qt::AlignTop);
    top->addLayout(heading, 1);

    // Links of one group touch, so the pointer can go from one to the next without crossing
    // the background.
    auto linkGroup = [](LinkLabel* first, LinkLabel* second) {
        auto* group = new QVBoxLayout;
        group->setSpacing(0);
        group->addWidget(first);
        group->addWidget(second);
        group->addStretch();
        return group;
    };
    auto* links = new QGridLayout;
    links->setHorizontalSpacing(10);
    links->setVerticalSpacing(10);
    links->addWidget(Image2, 0, 0, Qt::AlignTop);
    links->addLayout(linkGroup(BrenmoorWebSite, BrenmoorMsgBrds), 0, 1);
    links->addWidget(Image3, 1, 0, Qt::AlignTop);
    links->addLayout(linkGroup(EmailBrenmoor, UpdateCI), 1, 1);
    links->setColumnStretch(2, 1);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdSysInfo);
    buttons->addStretch();
    links->addLayout(buttons, 0, 3, 2, 1);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(14, 14, 14, 10);
    root->setSpacing(10);
    root->addLayout(top);
    root->addWidget(Line1[0]);
    root->addLayout(links);
    root->addWidget(Line1[1]);
    root->addWidget(Label1);
    root->setSizeConstraint(QLayout::SetFixedSize);

    connect(cmdOK, &QPushButton::clicked, this, &AboutForm::cmdOK_Click);
    connect(cmdSysInfo, &QPushButton::clicked, this, &AboutForm::cmdSysInfo_Click);
    connect(BrenmoorWebSite, &LinkLabel::clicked, this, &AboutForm::BrenmoorWebSite_Click);
    connect(BrenmoorWebSite, &LinkLabel::mouseMoved, this, &AboutForm::BrenmoorWebSite_MouseMove);
    connect(BrenmoorMsgBrds, &LinkLabel::clicked, this, &AboutForm::BrenmoorMsgBrds_Click);
    connect(BrenmoorMsgBrds, &LinkLabel::mouseMoved, this, &AboutForm::BrenmoorMsgBrds_MouseMove);
    connect(EmailBrenmoor, &LinkLabel::clicked, this, &AboutForm::EmailBrenmoor_Click);
    connect(EmailBrenmoor, &LinkLabel::mouseMoved, this, &AboutForm::EmailBrenmoor_MouseMove);
    connect(UpdateCI, &LinkLabel::clicked, this, &AboutForm::UpdateCI_Click);
    connect(UpdateCI, &LinkLabel::mouseMoved, this, &AboutForm::UpdateCI_MouseMove);

    hWnd_ = win::RegisterWindow(this);
    Form_Load();
}

LinkLabel* AboutForm::AddLink(const char* text, const char* name, const QString& toolTip) {
    auto* link = new LinkLabel(QString::fromLatin1(text), QString::fromLatin1(name), this);
    QFont linkFont = font();
    linkFont.setUnderline(true);
    link->setFont(linkFont);
    link->SetForeColor(LinkBlue());
    if (!toolTip.isEmpty())
        link->setToolTip(toolTip);
    return link;
}

void AboutForm::Form_Load() {
    const AppVersionNumbers v = AppVersion();
    lblVersion->setText(
        QStringLiteral("Version %1.%2.%3").arg(v.Major).arg(v.Minor).arg(v.Revision));
    lblTitle->setText(AppTitle());
}

void AboutForm::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    Form_MouseMove();
}

void AboutForm::Form_MouseMove() {
    for (LinkLabel* link : {BrenmoorWebSite, BrenmoorMsgBrds, EmailBrenmoor, UpdateCI})
        link->SetForeColor(LinkBlue());
}

void AboutForm::cmdOK_Click() {
    accept();
}

void AboutForm::cmdSysInfo_Click() {
    StartSysInfo();
}

// Each link turns blue again before its action, so it is not left red behind what it opens.
void AboutForm::OpenLink(LinkLabel* link, const char* target) {
    link->SetForeColor(LinkBlue());
    win::ShellExecuteA(hWnd_, QStringLiteral("open"), QString::fromLatin1(target), QString(),
                       QString(), win::SW_SHOWNORMAL);
}

void AboutForm::BrenmoorWebSite_Click() {
    OpenLink(BrenmoorWebSite, MakerLinks::HomePage);
}

void AboutForm::BrenmoorMsgBrds_Click() {
    OpenLink(BrenmoorMsgBrds, MakerLinks::MessageBoards);
}

void AboutForm::EmailBrenmoor_Click() {
    OpenLink(EmailBrenmoor, MakerLinks::SupportMail);
}

void AboutForm::UpdateCI_Click() {
    UpdateCI->SetForeColor(LinkBlue());
    if (checkForUpdates_)
        checkForUpdates_();
}

void AboutForm::BrenmoorWebSite_MouseMove() {
    BrenmoorWebSite->SetForeColor(LinkRed());
}

void AboutForm::BrenmoorMsgBrds_MouseMove() {
    BrenmoorMsgBrds->SetForeColor(LinkRed());
}

void AboutForm::EmailBrenmoor_MouseMove() {
    EmailBrenmoor->SetForeColor(LinkRed());
}

void AboutForm::UpdateCI_MouseMove() {
    UpdateCI->SetForeColor(LinkRed());
}

} // namespace postlark
