#include "reply_words.h"

#include <QJsonArray>

#include "key_names.h"

namespace ReplyWords {

using Outcome = RemoteKeys::Outcome;

QString OutcomeName(Outcome outcome) {
    switch (outcome) {
        case Outcome::Done:
            return QStringLiteral("done");
        case Outcome::TransferError:
            return QStringLiteral("transfer_error");
        case Outcome::CameraRange:
            return QStringLiteral("camera_range");
        case Outcome::UnknownKey:
            return QStringLiteral("unknown_key");
        case Outcome::KeyDisabled:
            return QStringLiteral("key_disabled");
        case Outcome::NotMovement:
            return QStringLiteral("not_movement");
        case Outcome::HeldByOther:
            return QStringLiteral("held_by_other");
        case Outcome::NotHolder:
            return QStringLiteral("not_holder");
        case Outcome::LineDown:
            return QStringLiteral("line_down");
    }
    return QStringLiteral("unknown");
}

int HttpStatus(Outcome outcome) {
    switch (outcome) {
        case Outcome::Done:
            return 200;
        case Outcome::CameraRange:
            return 400;
        case Outcome::UnknownKey:
            return 404;
        case Outcome::KeyDisabled:
        case Outcome::NotMovement:
            return 422;
        case Outcome::HeldByOther:
        case Outcome::NotHolder:
            return 409;
        case Outcome::TransferError:
        case Outcome::LineDown:
            return 503;
    }
    return 500;
}

QJsonObject Reply(const RemoteKeys::Reply& reply) {
    QJsonObject object;
    object.insert(QLatin1String("ok"), reply.outcome == Outcome::Done);
    object.insert(QLatin1String("outcome"), OutcomeName(reply.outcome));
    if (!reply.words.isEmpty())
        object.insert(QLatin1String("error"), reply.words);
    if (!reply.holder.isEmpty())
        object.insert(QLatin1String("holder"), reply.holder);
    if (reply.camera >= 0)
        object.insert(QLatin1String("camera"), reply.camera);
    if (reply.leaseLeftMs >= 0)
        object.insert(QLatin1String("lease_left_ms"), reply.leaseLeftMs);
    if (reply.outcome == Outcome::UnknownKey)
        object.insert(QLatin1String("keys"), QJsonArray::fromStringList(KeyNames::All()));
    return object;
}

QJsonObject Error(const QString& outcome, const QString& words) {
    QJsonObject object;
    object.insert(QLatin1String("ok"), false);
    object.insert(QLatin1String("outcome"), outcome);
    object.insert(QLatin1String("error"), words);
    return object;
}

QString EventType(RemoteKeys::EventKind kind) {
    switch (kind) {
        case RemoteKeys::EventKind::Stopped:
            return QStringLiteral("Stopped");
        case RemoteKeys::EventKind::LeaseEnded:
            return QStringLiteral("LeaseEnded");
        case RemoteKeys::EventKind::TakenOver:
            return QStringLiteral("TakenOver");
        case RemoteKeys::EventKind::LineState:
            return QStringLiteral("LineState");
    }
    return QStringLiteral("Unknown");
}

QJsonObject Event(const RemoteKeys::Event& event) {
    QJsonObject data;
    if (!event.client.isEmpty())
        data.insert(QLatin1String("client"), event.client);
    if (event.controlId)
        data.insert(QLatin1String("key"), KeyNames::Name(event.controlId));
    if (event.camera >= 0)
        data.insert(QLatin1String("camera"), event.camera);
    data.insert(QLatin1String("why"), event.why);
    return data;
}

QJsonObject State(const RemoteKeys::State& state) {
    QJsonObject object;
    object.insert(QLatin1String("line_open"), state.lineOpen);
    object.insert(QLatin1String("line_healing"), state.lineHealing);
    object.insert(QLatin1String("line"), state.lineWords);
    object.insert(QLatin1String("protocol"),
                  state.protocol == 1 ? QStringLiteral("PELCO D") : QStringLiteral("OSKA-DEFAULT"));
    object.insert(QLatin1String("camera_type"),
                  state.cameraType == 1 ? QStringLiteral("B/D") : QStringLiteral("ZOOM"));
    QJsonArray keys;
    for (int id : state.enabledKeys) keys.append(KeyNames::Name(id));
    object.insert(QLatin1String("enabled_keys"), keys);
    QJsonArray holds;
    for (const RemoteKeys::Hold& hold : state.holds) {
        QJsonObject one;
        one.insert(QLatin1String("holder"), hold.holder);
        one.insert(QLatin1String("local"), hold.local);
        one.insert(QLatin1String("key"), KeyNames::Name(hold.controlId));
        one.insert(QLatin1String("camera"), hold.camera);
        if (hold.leaseLeftMs >= 0)
            one.insert(QLatin1String("lease_left_ms"), hold.leaseLeftMs);
        holds.append(one);
    }
    object.insert(QLatin1String("holds"), holds);
    object.insert(QLatin1String("stop_owed"), state.stopOwed);
    if (state.stopOwed)
        object.insert(QLatin1String("stop_owed_camera"), state.stopOwedCamera);
    return object;
}

}  // namespace ReplyWords
