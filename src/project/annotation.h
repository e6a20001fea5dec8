#pragma once

#include <QByteArray>
#include <QObject>

namespace kel {

// What an annotation is made of and how its file is named. Only webcam video exists.
class Annotation : public QObject {
    Q_OBJECT
public:
    explicit Annotation(QObject* parent = nullptr);
    ~Annotation() override;

    QByteArray kind = "VID";
    QByteArray extension = ".avi";
};

} // namespace kel
