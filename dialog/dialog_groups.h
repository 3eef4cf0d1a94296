#pragma once

#include <QVector>

// A control of a dialog, in tab order, as the arrow keys see it.
struct GroupMember {
    bool groupStart = false;  // the first control of a group
    bool canFocus = false;    // enabled, visible and able to take the keyboard focus
};

// The arrow keys of a Windows dialog move the focus only among the controls of the
// focused control's group: a group runs from a control flagged as its start (or the first
// control) up to the next start. Forward (Right, Down) and backward (Left, Up) wrap inside
// the group and skip controls that cannot take the focus. Returns the index of the control
// to focus, or current when no other control of its group can take it.
int NextInGroup(const QVector<GroupMember>& members, int current, bool forward);
