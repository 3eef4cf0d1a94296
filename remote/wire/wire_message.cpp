#include "wire_message.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>
#include <cmath>
#include <limits>

namespace Wire {

namespace {

// A JSON number that is a whole number, brought within int; false for anything else.
bool WholeNumber(const QJsonValue& value, int& out) {
    if (!value.isDouble())
        return false;
    const double number = value.toDouble();
    if (!std::isfinite(number) || std::floor(number) != number)
        return false;
    constexpr double kLow = std::numeric_limits<int>::min();
    constexpr double kHigh = std::numeric_limits<int>::max();
    out = number < kLow    ? std::numeric_limits<int>::min()
          : number > kHigh ? std::numeric_limits<int>::max()
                           : int(number);
    return true;
}

Parsed Failure(const QString& why) {
    Parsed parsed;
    parsed.error = why;
    return parsed;
}

}  // namespace

Parsed ParseMessage(const QByteArray& text) {
    if (text.size() > kMaxMessageBytes)
        return Failure(QStringLiteral("the message is larger than %1 bytes").arg(kMaxMessageBytes));
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError)
        return Failure(
            QStringLiteral("not JSON: %1 at byte %2").arg(error.errorString()).arg(error.offset));
    if (!document.isObject())
        return Failure(QStringLiteral("the message is not a JSON object"));
    const QJsonObject object = document.object();
    Parsed parsed;
    if (!WholeNumber(object.value(QLatin1String("op")), parsed.message.op))
        return Failure(QStringLiteral("\"op\" is missing or not a whole number"));
    const QJsonValue data = object.value(QLatin1String("d"));
    if (!data.isObject())
        return Failure(QStringLiteral("\"d\" is missing or not an object"));
    parsed.message.data = data.toObject();
    parsed.ok = true;
    return parsed;
}

QByteArray BuildMessage(int op, const QJsonObject& data) {
    QJsonObject object;
    object.insert(QLatin1String("op"), op);
    object.insert(QLatin1String("d"), data);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

ParsedRequest ParseRequest(const QJsonObject& data) {
    ParsedRequest parsed;
    const QJsonValue type = data.value(QLatin1String("requestType"));
    const QJsonValue id = data.value(QLatin1String("requestId"));
    const QJsonValue body = data.value(QLatin1String("requestData"));
    if (!type.isString() || type.toString().isEmpty() || type.toString().size() > kMaxIdLength)
        parsed.error = QStringLiteral("\"requestType\" must be a name of up to %1 characters")
                           .arg(kMaxIdLength);
    else if (!id.isString() || id.toString().size() > kMaxIdLength)
        parsed.error = QStringLiteral("\"requestId\" must be a string of up to %1 characters")
                           .arg(kMaxIdLength);
    else if (!body.isUndefined() && !body.isObject() && !body.isNull())
        parsed.error = QStringLiteral("\"requestData\" must be an object");
    if (!parsed.error.isEmpty())
        return parsed;
    parsed.request = {type.toString(), id.toString(), body.toObject()};
    parsed.ok = true;
    return parsed;
}

KeyBody ParseKeyBody(const QJsonObject& body) {
    KeyBody key;
    const auto field = [&](const char* name, int& out) {
        const QJsonValue value = body.value(QLatin1String(name));
        if (value.isUndefined() || value.isNull())
            return;
        if (!WholeNumber(value, out) && key.ok) {
            key.ok = false;
            key.error = QStringLiteral("\"%1\" must be a whole number").arg(QLatin1String(name));
        }
    };
    field("camera", key.camera);
    field("lease_ms", key.leaseMs);
    field("select", key.select);
    return key;
}

KeyBody ParseKeyBodyText(const QByteArray& text) {
    if (text.trimmed().isEmpty())
        return {};
    const Parsed parsed = [&] {
        // The body is the request's data alone, without the envelope.
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(text, &error);
        Parsed result;
        if (error.error != QJsonParseError::NoError)
            result.error = QStringLiteral("the body is not JSON: %1").arg(error.errorString());
        else if (!document.isObject())
            result.error = QStringLiteral("the body is not a JSON object");
        else {
            result.ok = true;
            result.message.data = document.object();
        }
        return result;
    }();
    if (!parsed.ok) {
        KeyBody key;
        key.ok = false;
        key.error = parsed.error;
        return key;
    }
    return ParseKeyBody(parsed.message.data);
}

}  // namespace Wire
