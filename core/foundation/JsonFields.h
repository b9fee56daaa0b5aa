#pragma once
// Strict reading of single JSON values for the stored records (settings and the drive
// profile inside them). Each function throws JsonFields::Mismatch when the value is not
// of the expected kind, so a caller can drop just that one field.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

namespace keldwick::JsonFields {

struct Mismatch : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A JSON integer within the Int64 range. A number written with a fraction or an
// exponent is accepted only when its value is a whole number within that range.
int64_t int64(const nlohmann::json& value);
// The same without throwing: nothing when the value is not such a number.
std::optional<int64_t> optionalInt64(const nlohmann::json& value);
// Any finite JSON number.
double number(const nlohmann::json& value);
bool boolean(const nlohmann::json& value);
std::string string(const nlohmann::json& value);

// The member `key` of an object, or nothing when it is missing.
const nlohmann::json* member(const nlohmann::json& object, const char* key);
// The member `key`, which must be present (a mismatch otherwise).
const nlohmann::json& required(const nlohmann::json& object, const char* key);

}  // namespace keldwick::JsonFields
