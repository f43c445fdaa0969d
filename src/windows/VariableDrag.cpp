#include "windows/VariableDrag.h"

#include <QCoreApplication>

namespace orvane {

QMimeData* NewVariableMimeData() {
    auto* data = new QMimeData;
    data->setData(QString::fromLatin1(kVariableMimeType),
                  QByteArray::number(QCoreApplication::applicationPid()));
    return data;
}

bool IsVariableDrag(const QMimeData* data) {
    return data && data->hasFormat(QString::fromLatin1(kVariableMimeType)) &&
           data->data(QString::fromLatin1(kVariableMimeType)) ==
               QByteArray::number(QCoreApplication::applicationPid());
}

} // namespace orvane
