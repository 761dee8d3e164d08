// SPDX-License-Identifier: GPL-3.0-or-later
// The yardstick for memory and start-up: a Qt program that shows a main window with the same
// widgets as Postlark's (menu bar with the same entries, a two-column list with as many rows as
// the first argument says, five buttons with their tips, a check box, a progress bar and a
// status bar, in the same places) and runs none of Postlark's code.
#include <QApplication>
#include <QCheckBox>
#include <QMainWindow>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTreeWidget>

#include <cstdlib>

namespace {

// Postlark lays its window out in twips; 15 twips are one pixel at 96 dots per inch.
QRect Twips(int left, int top, int width, int height) {
    return QRect(left / 15, top / 15, width / 15, height / 15);
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const int rows = argc > 1 ? std::atoi(argv[1]) : 200;

    QMainWindow window;
    QMenu* file = window.menuBar()->addMenu("&File");
    for (const char* caption : {"&Check Mail Now", "&Show", "&Settings...", "E&xit"})
        file->addAction(caption);
    QMenu* help = window.menuBar()->addMenu("&Help");
    for (const char* caption : {"&Backup Account Settings...", "&Restore Account Settings...",
                                "&Check for updates", "&About..."})
        help->addAction(caption);

    auto* client = new QWidget(&window);
    client->setFixedSize(5535 / 15, 3870 / 15);
    QFont small = client->font();
    small.setPointSize(8);
    client->setFont(small);
    window.setCentralWidget(client);

    auto* list = new QTreeWidget(client);
    list->setHeaderLabels({"Account Email", "New Mail?"});
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setAllColumnsShowFocus(true);
    list->setGeometry(Twips(120, 120, 5295, 2040));
    list->setColumnWidth(0, 3600 / 15);
    QList<QTreeWidgetItem*> items;
    for (int i = 0; i < rows; ++i)
        items << new QTreeWidgetItem(QStringList{QStringLiteral("bench%1@example.org").arg(i)});
    list->addTopLevelItems(items);
    if (rows > 0)
        list->setCurrentItem(items.first());

    auto* progress = new QProgressBar(client);
    progress->setRange(1, 10000);
    progress->setTextVisible(false);
    progress->setGeometry(Twips(120, 2250, 5295, 255));

    struct Button {
        const char* caption;
        const char* tip;
        int left, top;
    };
    for (const Button& b :
         {Button{"&Add Account", "Adds a new email account to check", 480, 2640},
          Button{"&Delete Account", "Deletes the selected email account", 2040, 2640},
          Button{"&Modify Account", "Modifies selected email account", 3720, 2640},
          Button{"&Launch Program", "Launches program associated with email address", 480, 3120},
          Button{"&Check Mail Now", "", 2040, 3120}}) {
        auto* button = new QPushButton(b.caption, client);
        if (*b.tip)
            button->setToolTip(b.tip);
        button->setGeometry(Twips(b.left, b.top, 1455, 375));
    }
    auto* check = new QCheckBox("&Minimize on Startup", client);
    check->setGeometry(Twips(3720, 3120, 1815, 375));
    check->setStyleSheet("QCheckBox { spacing: 2px; }");

    auto* status = new QStatusBar(client);
    status->setSizeGripEnabled(false);
    status->setStyleSheet("QStatusBar { border-top: 1px solid palette(mid); }");
    status->setGeometry(Twips(0, 3540, 5535, 330));

    window.setWindowTitle("Postlark");
    window.show();
    return app.exec();
}
