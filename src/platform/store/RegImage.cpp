#include "platform/store/RegImage.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace vantel {

namespace {

unsigned char Fold(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

/// Orders names ignoring ASCII case; with `backslashFirst` a '\' sorts before every other
/// character, so that a key's subtree follows it without anything in between.
bool FoldedLess(std::string_view a, std::string_view b, bool backslashFirst) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(a[i]);
        const auto y = static_cast<unsigned char>(b[i]);
        if (x == y) {
            continue;
        }
        if (backslashFirst && (x == '\\' || y == '\\')) {
            return x == '\\';
        }
        if (Fold(x) != Fold(y)) {
            return Fold(x) < Fold(y);
        }
    }
    return a.size() < b.size();
}

bool EqualFolded(std::string_view a, std::string_view b) {
    return a.size() == b.size() && !FoldedLess(a, b, false) && !FoldedLess(b, a, false);
}

}  // namespace

bool RegImage::NameLess::operator()(std::string_view a, std::string_view b) const {
    return FoldedLess(a, b, false);
}

bool RegImage::PathLess::operator()(std::string_view a, std::string_view b) const {
    return FoldedLess(a, b, true);
}

bool RegImage::IsBelow(std::string_view child, std::string_view parent) {
    return child.size() > parent.size() && child[parent.size()] == '\\' &&
           EqualFolded(child.substr(0, parent.size()), parent);
}

bool RegImage::IsValidPath(std::string_view path) {
    if (path.empty() || path.front() == '-' || path.front() == '\\' || path.back() == '\\' ||
        path.find("\\\\") != std::string_view::npos) {
        return false;
    }
    return path.find_first_of(std::string_view("\0\r\n", 3)) == std::string_view::npos;
}

bool RegImage::IsValidValueName(std::string_view name) {
    return name.find_first_of(std::string_view("\0\r\n", 3)) == std::string_view::npos;
}

bool RegImage::CreateKey(std::string_view path) {
    if (!IsValidPath(path)) {
        return false;
    }
    if (keys_.find(path) != keys_.end()) {
        return true;
    }
    // Walk down from the root so that existing ancestors lend their spelling to the new path.
    std::string stored;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = path.find('\\', start);
        const std::string_view part = path.substr(start, end - start);
        std::string candidate =
            stored.empty() ? std::string(part) : stored + '\\' + std::string(part);
        auto it = keys_.find(candidate);
        if (it == keys_.end()) {
            it = keys_.emplace(std::move(candidate), Key{}).first;
        }
        stored = it->first;
        if (end == std::string_view::npos) {
            return true;
        }
        start = end + 1;
    }
}

bool RegImage::HasKey(std::string_view path) const {
    return keys_.find(path) != keys_.end();
}

bool RegImage::HasSubkeys(std::string_view path) const {
    const auto it = keys_.find(path);
    if (it == keys_.end()) {
        return false;
    }
    const auto next = std::next(it);
    return next != keys_.end() && IsBelow(next->first, it->first);
}

bool RegImage::DeleteKey(std::string_view path) {
    const auto it = keys_.find(path);
    if (it == keys_.end() || HasSubkeys(path)) {
        return false;
    }
    keys_.erase(it);
    return true;
}

bool RegImage::DeleteTree(std::string_view path) {
    const auto first = keys_.find(path);
    if (first == keys_.end()) {
        return false;
    }
    auto last = std::next(first);
    while (last != keys_.end() && IsBelow(last->first, first->first)) {
        ++last;
    }
    keys_.erase(first, last);
    return true;
}

bool RegImage::SetValue(std::string_view path, RegValue value) {
    if (!IsValidValueName(value.name) || !CreateKey(path)) {
        return false;
    }
    auto& values = keys_.find(path)->second.values;
    const auto it = values.find(value.name);
    if (it != values.end()) {
        value.name = it->second.value.name;
        it->second.value = std::move(value);
        return true;
    }
    std::string name = value.name;
    values.emplace(std::move(name), Slot{std::move(value), nextOrder_++});
    return true;
}

bool RegImage::DeleteValue(std::string_view path, std::string_view name) {
    const auto key = keys_.find(path);
    if (key == keys_.end()) {
        return false;
    }
    const auto it = key->second.values.find(name);
    if (it == key->second.values.end()) {
        return false;
    }
    key->second.values.erase(it);
    return true;
}

const RegValue* RegImage::FindValue(std::string_view path, std::string_view name) const {
    const auto key = keys_.find(path);
    if (key == keys_.end()) {
        return nullptr;
    }
    const auto it = key->second.values.find(name);
    return it == key->second.values.end() ? nullptr : &it->second.value;
}

std::vector<std::string> RegImage::KeyPaths() const {
    std::vector<std::string> paths;
    paths.reserve(keys_.size());
    for (const auto& entry : keys_) {
        paths.push_back(entry.first);
    }
    return paths;
}

std::vector<const RegValue*> RegImage::Values(std::string_view path) const {
    std::vector<const Slot*> slots;
    const auto key = keys_.find(path);
    if (key != keys_.end()) {
        for (const auto& entry : key->second.values) {
            slots.push_back(&entry.second);
        }
    }
    std::sort(slots.begin(), slots.end(),
              [](const Slot* a, const Slot* b) { return a->order < b->order; });
    std::vector<const RegValue*> values;
    values.reserve(slots.size());
    for (const Slot* slot : slots) {
        values.push_back(&slot->value);
    }
    return values;
}

}  // namespace vantel
