// JsonField: a value of a parsed scene file together with where it sits ("layers[2].position"), so
// that every complaint about it names the file, the field path and what was expected:
// "fire.json: layers[2].position: expected 2 or 3 numbers". Objects are checked for unknown keys,
// which are refused with the nearest known key, so a misspelt field never goes unnoticed.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "tools/errors.h"

namespace cli {

using Json = nlohmann::ordered_json;

class JsonField {
public:
    JsonField(const Json& value, std::string file, std::string path = {})
        : value_(&value), file_(std::move(file)), path_(std::move(path)) {}

    const Json& json() const { return *value_; }
    const std::string& path() const { return path_; }
    const std::string& file() const { return file_; }
    // "fire.json: layers[2].position" (just the file at the root).
    std::string where() const;
    // A UsageError "<where>: <message>".
    UsageError error(const std::string& message) const;
    UsageError expected(const std::string& what) const { return error("expected " + what); }

    bool isNull() const { return value_->is_null(); }
    bool isObject() const { return value_->is_object(); }
    bool isArray() const { return value_->is_array(); }
    bool isString() const { return value_->is_string(); }
    bool isNumber() const { return value_->is_number(); }

    // Requires an object whose keys are all among `known`.
    void requireObject(const std::vector<std::string>& known) const;
    bool has(const std::string& key) const { return value_->is_object() && value_->contains(key); }
    JsonField at(const std::string& key) const;  // requires the key
    std::optional<JsonField> find(const std::string& key) const;
    std::vector<JsonField> items() const;  // requires an array
    // An object's members in file order (key, field). The keys are names (of parameters), so their
    // paths always take the bracket form: params["Gamma"].
    std::vector<std::pair<std::string, JsonField>> members() const;

    double number() const;
    double numberIn(double low, double high) const;  // refused outside low … high
    int integer() const;
    int integerAtLeast(int low) const;
    bool boolean() const;
    std::string string() const;
    // An array of numbers with a count between least and most.
    std::vector<double> numbers(std::size_t least, std::size_t most) const;

private:
    std::string childPath(const std::string& key, bool isName = false) const;

    const Json* value_;
    std::string file_;
    std::string path_;
};

// The known key nearest to an unknown one, or empty when none is near.
std::string nearestKey(const std::string& key, const std::vector<std::string>& known);

}  // namespace cli
