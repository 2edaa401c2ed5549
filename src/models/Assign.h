#pragma once

namespace norvela {

// Assigns and notifies only when the value really changes; returns whether it did.
template <typename Object, typename T, typename U>
bool assignChanged(Object* object, T& field, const U& value, void (Object::*changed)()) {
    if (field == value)
        return false;
    field = value;
    Q_EMIT(object->*changed)();
    return true;
}

} // namespace norvela
