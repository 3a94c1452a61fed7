#include "fontsubstitutes.h"

#include <QFont>
#include <QStringList>

void useFontSubstitutes()
{
    QFont::insertSubstitutions(QStringLiteral("Impact"),
                               {QStringLiteral("Bebas Neue Bold"), QStringLiteral("Bebas Neue"),
                                QStringLiteral("DejaVu Sans Condensed")});
    QFont::insertSubstitutions(QStringLiteral("Arial"), {QStringLiteral("Liberation Sans")});
    QFont::insertSubstitutions(QStringLiteral("Century Schoolbook L"), {QStringLiteral("C059")});
}
