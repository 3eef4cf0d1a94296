#include "key_holds.h"

namespace KeyHolds {

namespace {

bool Owns(const Hold& hold, Holder who, const QString& client) {
    return hold.holder == who && (who != Holder::Client || hold.client == client);
}

Verdict OnDown(const Hold& hold, Holder who, const QString& client, int controlId, int camera) {
    if (hold.holder == Holder::Nobody)
        return Verdict::Move;
    if (Owns(hold, who, client))
        return who == Holder::Client && hold.controlId == controlId && hold.camera == camera
                   ? Verdict::Extend
                   : Verdict::Move;
    return who == Holder::Local ? Verdict::TakeOver : Verdict::Refuse;
}

}  // namespace

Verdict Decide(const Hold& hold, Ask ask, Holder who, const QString& client, int controlId,
               int camera) {
    switch (ask) {
        case Ask::Down:
            return OnDown(hold, who, client, controlId, camera);
        // The local operator's release stops whatever moves.
        case Ask::Up:
            return who == Holder::Local || Owns(hold, who, client) ? Verdict::Stop
                                                                   : Verdict::Ignore;
        case Ask::Renew:
            return Owns(hold, who, client) ? Verdict::Extend : Verdict::Ignore;
        case Ask::Lapse:
        case Ask::Gone:
            return who == Holder::Client && Owns(hold, who, client) ? Verdict::Stop
                                                                    : Verdict::Ignore;
    }
    return Verdict::Ignore;
}

}  // namespace KeyHolds
