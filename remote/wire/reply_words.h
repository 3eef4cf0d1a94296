#pragma once

#include <QJsonObject>
#include <QString>

#include "holds/remote_keys.h"

// The keypad's answers as JSON, the same for both ways in: an outcome's name and HTTP status,
// a reply, an event and the state.
namespace ReplyWords {

// "done", "held_by_other", ...
QString OutcomeName(RemoteKeys::Outcome outcome);
// 200, 409, 503, ...
int HttpStatus(RemoteKeys::Outcome outcome);
// {"ok": true|false, "outcome": ..., "error": words, "holder", "camera", "lease_left_ms"}
QJsonObject Reply(const RemoteKeys::Reply& reply);
// {"ok": false, "outcome": name, "error": words}: an error that never reached the keypad.
QJsonObject Error(const QString& outcome, const QString& words);
// "Stopped", "LeaseEnded", "TakenOver", "LineState"
QString EventType(RemoteKeys::EventKind kind);
QJsonObject Event(const RemoteKeys::Event& event);
QJsonObject State(const RemoteKeys::State& state);

}  // namespace ReplyWords
