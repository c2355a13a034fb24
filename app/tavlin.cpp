// The station program.
#include "entry.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    return RunStation(1000);
}
