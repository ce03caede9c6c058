// Path-carrying access to a parsed scene file.
#include "tools/json_field.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

namespace cli {

namespace {

std::string formatNumber(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

std::string lowered(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// A key that reads as an identifier goes after a dot; anything else (spaces, punctuation) in
// brackets and quotes, as in params["Burn Progress"].
bool isPlainKey(const std::string& key) {
    return !key.empty() && std::all_of(key.begin(), key.end(),
                                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; });
}

std::string typeName(const Json& value) {
    if (value.is_null()) return "null";
    if (value.is_boolean()) return value.get<bool>() ? "true" : "false";
    if (value.is_number()) return formatNumber(value.get<double>());
    if (value.is_string()) return "\"" + value.get<std::string>() + "\"";
    if (value.is_array()) return "a list";
    return "an object";
}

}  // namespace

std::string nearestKey(const std::string& key, const std::vector<std::string>& known) {
    std::string best;
    std::size_t bestDistance = 0;
    for (const std::string& k : known) {
        std::size_t d = editDistance(lowered(key), lowered(k));
        if (best.empty() || d < bestDistance) best = k, bestDistance = d;
    }
    // Beyond a third of the word a suggestion is more confusing than helpful.
    return bestDistance <= std::max<std::size_t>(2, key.size() / 3) ? best : std::string();
}

std::string JsonField::where() const {
    return path_.empty() ? file_ : file_ + ": " + path_;
}

UsageError JsonField::error(const std::string& message) const {
    return UsageError(where() + ": " + message);
}

std::string JsonField::childPath(const std::string& key, bool isName) const {
    if (!isName && isPlainKey(key)) return path_.empty() ? key : path_ + "." + key;
    return path_ + "[\"" + key + "\"]";
}

void JsonField::requireObject(const std::vector<std::string>& known) const {
    if (!value_->is_object()) throw expected("an object, got " + typeName(*value_));
    for (auto it = value_->begin(); it != value_->end(); ++it) {
        if (std::find(known.begin(), known.end(), it.key()) != known.end()) continue;
        std::string message = "unknown field \"" + it.key() + "\"";
        std::string near = nearestKey(it.key(), known);
        if (!near.empty()) message += " (did you mean \"" + near + "\"?)";
        std::string list;
        for (const std::string& k : known) list += (list.empty() ? "" : ", ") + k;
        throw error(message + "; known fields: " + list);
    }
}

JsonField JsonField::at(const std::string& key) const {
    if (!value_->is_object()) throw expected("an object, got " + typeName(*value_));
    auto it = value_->find(key);
    if (it == value_->end()) throw error("missing field \"" + key + "\"");
    return JsonField(*it, file_, childPath(key));
}

std::optional<JsonField> JsonField::find(const std::string& key) const {
    if (!value_->is_object()) return std::nullopt;
    auto it = value_->find(key);
    if (it == value_->end()) return std::nullopt;
    return JsonField(*it, file_, childPath(key));
}

std::vector<JsonField> JsonField::items() const {
    if (!value_->is_array()) throw expected("a list, got " + typeName(*value_));
    std::vector<JsonField> result;
    for (std::size_t i = 0; i < value_->size(); ++i)
        result.emplace_back((*value_)[i], file_, path_ + "[" + std::to_string(i) + "]");
    return result;
}

std::vector<std::pair<std::string, JsonField>> JsonField::members() const {
    if (!value_->is_object()) throw expected("an object, got " + typeName(*value_));
    std::vector<std::pair<std::string, JsonField>> result;
    for (auto it = value_->begin(); it != value_->end(); ++it)
        result.emplace_back(it.key(), JsonField(it.value(), file_, childPath(it.key(), true)));
    return result;
}

double JsonField::number() const {
    if (!value_->is_number()) throw expected("a number, got " + typeName(*value_));
    return value_->get<double>();
}

double JsonField::numberIn(double low, double high) const {
    double v = number();
    if (!(v >= low && v <= high))
        throw expected("a number from " + formatNumber(low) + " to " + formatNumber(high) + ", got " + formatNumber(v));
    return v;
}

int JsonField::integer() const {
    if (!value_->is_number() || value_->get<double>() != std::floor(value_->get<double>()) ||
        std::fabs(value_->get<double>()) > 1e9)
        throw expected("a whole number, got " + typeName(*value_));
    return static_cast<int>(value_->get<double>());
}

int JsonField::integerAtLeast(int low) const {
    int v = integer();
    if (v < low) throw expected("a whole number of at least " + std::to_string(low) + ", got " + std::to_string(v));
    return v;
}

bool JsonField::boolean() const {
    if (!value_->is_boolean()) throw expected("true or false, got " + typeName(*value_));
    return value_->get<bool>();
}

std::string JsonField::string() const {
    if (!value_->is_string()) throw expected("a text in quotes, got " + typeName(*value_));
    return value_->get<std::string>();
}

std::vector<double> JsonField::numbers(std::size_t least, std::size_t most) const {
    std::string count = least == most ? std::to_string(least) : std::to_string(least) + " or " + std::to_string(most);
    if (most > least + 1) count = std::to_string(least) + " to " + std::to_string(most);
    if (!value_->is_array() || value_->size() < least || value_->size() > most ||
        !std::all_of(value_->begin(), value_->end(), [](const Json& v) { return v.is_number(); }))
        throw expected(count + " numbers");
    std::vector<double> result;
    for (const Json& v : *value_) result.push_back(v.get<double>());
    return result;
}

}  // namespace cli
