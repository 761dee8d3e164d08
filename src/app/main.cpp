// Postlark entry point: creates the application and, for now, reports its name and version.
#include <QApplication>
#include <cstdio>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Postlark");
    QApplication::setApplicationVersion(POSTLARK_VERSION);
    std::printf("Postlark %s\n", POSTLARK_VERSION);
    return 0;
}
