#include "ui/InterfaceLocale.h"

#include <QLocale>

namespace keldwick {

void useInterfaceLocale() {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::system().territory()));
}

}  // namespace keldwick
