#include "foundation/JsonFields.h"

#include <cmath>
#include <limits>

namespace keldwick::JsonFields {

int64_t int64(const nlohmann::json& value) {
    if (value.is_number_unsigned()) {
        auto v = value.get<uint64_t>();
        if (v > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) throw Mismatch("integer out of range");
        return static_cast<int64_t>(v);
    }
    if (value.is_number_integer()) return value.get<int64_t>();
    if (value.is_number_float()) {
        double d = value.get<double>();
        // 2^63 is exactly representable; anything at or above it doesn't fit.
        if (!std::isfinite(d) || d != std::trunc(d) || d < -9223372036854775808.0 || d >= 9223372036854775808.0)
            throw Mismatch("not a whole number in range");
        return static_cast<int64_t>(d);
    }
    throw Mismatch("not an integer");
}

std::optional<int64_t> optionalInt64(const nlohmann::json& value) {
    try {
        return int64(value);
    } catch (const Mismatch&) {
        return std::nullopt;
    }
}

double number(const nlohmann::json& value) {
    if (!value.is_number()) throw Mismatch("not a number");
    double d = value.get<double>();
    if (!std::isfinite(d)) throw Mismatch("not a finite number");
    return d;
}

bool boolean(const nlohmann::json& value) {
    if (!value.is_boolean()) throw Mismatch("not a boolean");
    return value.get<bool>();
}

std::string string(const nlohmann::json& value) {
    if (!value.is_string()) throw Mismatch("not a string");
    return value.get<std::string>();
}

const nlohmann::json* member(const nlohmann::json& object, const char* key) {
    if (!object.is_object()) throw Mismatch("not an object");
    auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

const nlohmann::json& required(const nlohmann::json& object, const char* key) {
    const nlohmann::json* v = member(object, key);
    if (!v) throw Mismatch(std::string("missing key ") + key);
    return *v;
}

}  // namespace keldwick::JsonFields
