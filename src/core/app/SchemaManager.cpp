#include "core/app/SchemaManager.h"

#include <algorithm>

namespace vantel {
namespace {

char FoldCase(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameKeyName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return FoldCase(x) == FoldCase(y);
           });
}

}  // namespace

bool SchemaManager::SaveEverywhere() {
    if (onlyRoot_) {
        persistence_.SetUseMachineStore(*onlyRoot_ == StoreRoot::LocalMachine);
        return persistence_.SaveSettings(settings_);
    }
    if (isNT_) {
        persistence_.SetUseMachineStore(true);
        persistence_.SaveSettings(settings_);
    }
    persistence_.SetUseMachineStore(false);
    const bool saved = persistence_.SaveSettings(settings_);
    // Only a wanted service is installed: it starts with the system and holds the ports.
    if (isNT_ && settings_.UseService != 0) {
        service_.NotifyServiceReload();
    }
    return saved;
}

void SchemaManager::SelectSchema(int index) {
    SaveEverywhere();
    settings_.DefaultSchema = index;
    persistence_.LoadSettings(settings_, index);
    if (!service_.IsServiceRunning()) {
        relay_.RestartListeners();
    }
    relay_.OnRelayStateChanged();
}

std::string SchemaManager::CheckSchemaName(std::string_view name) {
    if (name.empty()) {
        return "Please enter a name for schema before saving";
    }
    if (name.size() > kMaxSchemaName) {
        return "A schema name can have at most 255 characters.";
    }
    if (name.find('\\') != std::string_view::npos) {
        return "A schema name cannot contain a backslash (\\).";
    }
    if (std::any_of(name.begin(), name.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x20; })) {
        return "A schema name cannot contain control characters.";
    }
    return {};
}

int SchemaManager::FindSchema(const StringList& schemes, std::string_view name) {
    auto found = std::find(schemes.begin(), schemes.end(), name);
    if (found == schemes.end()) {
        found = std::find_if(schemes.begin(), schemes.end(),
                             [name](const std::string& s) { return SameKeyName(s, name); });
    }
    return found == schemes.end() ? 0 : static_cast<int>(found - schemes.begin()) + 1;
}

bool SchemaManager::SaveSchemaAs(std::string_view name) {
    const std::string problem = CheckSchemaName(name);
    if (!problem.empty()) {
        notifier_.ShowMessage(problem);
        return false;
    }
    StringList& schemes = settings_.Schemes;
    int position = FindSchema(schemes, name);
    if (position == 0) {
        schemes.emplace_back(name);
        position = static_cast<int>(schemes.size());
    }
    const std::string savedName = schemes[static_cast<std::size_t>(position) - 1];
    settings_.DefaultSchema = position;
    SaveEverywhere();
    notifier_.ShowMessage("Schema '" + savedName + "' was successfully saved");
    return true;
}

bool SchemaManager::DeleteSchema(std::string_view name, const std::function<void()>& removed) {
    StringList& schemes = settings_.Schemes;
    const auto found = std::find(schemes.begin(), schemes.end(), name);
    if (found == schemes.end()) {
        notifier_.ShowMessage("Schema \"" + std::string(name) + "\" not found");
        return false;
    }
    const int position = static_cast<int>(found - schemes.begin()) + 1;
    if (position == settings_.DefaultSchema) {
        settings_.DefaultSchema = 0;
    } else if (position < settings_.DefaultSchema) {
        // The current schema moves down one place; keep pointing at it so the save below
        // does not write over another schema.
        --settings_.DefaultSchema;
    }
    const std::string deleted = *found;
    schemes.erase(found);
    for (bool machine : {false, true}) {
        if (!onlyRoot_ || (*onlyRoot_ == StoreRoot::LocalMachine) == machine) {
            persistence_.SetUseMachineStore(machine);
            persistence_.DeleteSchemaKey(deleted);
        }
    }
    persistence_.SetUseMachineStore(onlyRoot_ && *onlyRoot_ == StoreRoot::LocalMachine);
    if (removed) {
        removed();
    }
    notifier_.ShowMessage("Schema '" + deleted + "' was successfully deleted");
    SaveEverywhere();
    return true;
}

}  // namespace vantel
