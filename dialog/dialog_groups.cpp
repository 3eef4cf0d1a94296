#include "dialog_groups.h"

int NextInGroup(const QVector<GroupMember>& members, int current, bool forward) {
    const int count = static_cast<int>(members.size());
    if (current < 0 || current >= count)
        return current;
    int first = current;
    while (first > 0 && !members[first].groupStart) --first;
    int end = current + 1;
    while (end < count && !members[end].groupStart) ++end;
    const int size = end - first;
    for (int step = 1; step < size; ++step) {
        const int offset = forward ? step : size - step;
        const int candidate = first + (current - first + offset) % size;
        if (members[candidate].canFocus)
            return candidate;
    }
    return current;
}
