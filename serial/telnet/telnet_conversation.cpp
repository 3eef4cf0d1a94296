#include "telnet_conversation.h"

using Answer = TelnetComPort::Answer;

TelnetConversation::Actions TelnetConversation::Handle(Event event, const char* data, int count) {
    Actions actions;
    if (state == State::Refused || state == State::Ended)
        return actions;
    switch (event) {
        case Event::Start:
            if (state == State::Idle) {
                state = State::Offering;
                actions.send = options.Offers();
                actions.startClock = true;
            }
            break;
        case Event::Received:
            actions.send = options.Feed(data, count);
            AfterBytes(actions);
            break;
        case Event::TimeUp:
            if (state == State::Offering)
                OffersSettled(actions);
            else if (state == State::Setting)
                Refuse(QStringLiteral("%1 did not confirm %2 within %3 s")
                           .arg(server, options.Unconfirmed())
                           .arg(kAnswerMs / 1000.0));
            break;
        case Event::Ended:
            state = State::Ended;
            break;
    }
    return actions;
}

void TelnetConversation::AfterBytes(Actions& actions) {
    const State flow = options.Suspended() ? State::Held : State::Open;
    switch (state) {
        case State::Offering:
            if (options.OffersAnswered())
                OffersSettled(actions);
            return;
        case State::Setting:
            if (!options.SettingsFault().isEmpty())
                Refuse(QStringLiteral("%1 %2").arg(server, options.SettingsFault()));
            else if (options.SettingsConfirmed())
                state = flow;
            return;
        case State::Open:
        case State::Held:
            state = flow;
            return;
        default:
            return;
    }
}

void TelnetConversation::OffersSettled(Actions& actions) {
    if (options.ComPort() == Answer::Yes)
        SetFarPort(actions);
    else if (options.ComPort() == Answer::No)
        Refuse(
            QStringLiteral("%1 refused the COM-PORT-OPTION, so it cannot set its port to %2 baud")
                .arg(server)
                .arg(baud));
    else
        Refuse(QStringLiteral("%1 did not answer the offer of the COM-PORT-OPTION within %2 s (it "
                              "is no RFC 2217 server?), so its port cannot be set to %3 baud")
                   .arg(server)
                   .arg(kAnswerMs / 1000.0)
                   .arg(baud));
}

void TelnetConversation::SetFarPort(Actions& actions) {
    state = State::Setting;
    actions.send += options.Settings(baud);
    actions.startClock = true;
}

void TelnetConversation::Refuse(const QString& why) {
    state = State::Refused;
    refusal = why;
}
