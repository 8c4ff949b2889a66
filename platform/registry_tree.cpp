#include "platform/registry_tree.h"

#include "platform/text.h"

namespace scopa {

bool NoCaseLess::operator()(std::string_view a, std::string_view b) const {
    return CompareNoCase(a, b) < 0;
}

RegKeyNode* RegKeyNode::FindChild(std::string_view child_name) const {
    auto found = subkeys.find(child_name);
    return found == subkeys.end() ? nullptr : found->second.get();
}

RegKeyNode* RegKeyNode::EnsureChild(std::string_view child_name) {
    if (RegKeyNode* existing = FindChild(child_name)) return existing;
    auto child = std::make_unique<RegKeyNode>();
    child->name = std::string(child_name);
    RegKeyNode* raw = child.get();
    subkeys.emplace(child->name, std::move(child));
    return raw;
}

const RegValue* RegKeyNode::FindValue(std::string_view value_name) const {
    for (const RegValue& value : values) {
        if (EqualsNoCase(value.name, value_name)) return &value;
    }
    return nullptr;
}

void RegKeyNode::SetValue(std::string_view value_name, DWORD type, std::string data) {
    for (RegValue& value : values) {
        if (EqualsNoCase(value.name, value_name)) {
            value.type = type;
            value.data = std::move(data);
            return;
        }
    }
    RegValue added{std::string(value_name), type, std::move(data)};
    // The default value always leads, so enumeration and the written file agree.
    if (value_name.empty()) {
        values.insert(values.begin(), std::move(added));
    } else {
        values.push_back(std::move(added));
    }
}

bool RegKeyNode::DeleteValue(std::string_view value_name) {
    for (auto it = values.begin(); it != values.end(); ++it) {
        if (EqualsNoCase(it->name, value_name)) {
            values.erase(it);
            return true;
        }
    }
    return false;
}

std::optional<RegKeyPath> SplitKeyPath(std::string_view text) {
    RegKeyPath parts;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\\', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view part = text.substr(start, end - start);
        if (!part.empty()) {
            if (part.size() > kRegMaxKeyNameBytes) return std::nullopt;
            for (char c : part) {
                if (static_cast<unsigned char>(c) < 0x20) return std::nullopt;
            }
            if (parts.size() >= kRegMaxKeyDepth) return std::nullopt;
            parts.emplace_back(part);
        }
        start = end + 1;
    }
    return parts;
}

bool IsValidValueName(std::string_view name) {
    if (name.size() > kRegMaxValueNameBytes) return false;
    return name.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

RegKeyNode* FindKey(const RegKeyNode& root, const RegKeyPath& path) {
    const RegKeyNode* node = &root;
    for (const std::string& part : path) {
        node = node->FindChild(part);
        if (node == nullptr) return nullptr;
    }
    return const_cast<RegKeyNode*>(node);
}

RegKeyNode* EnsureKey(RegKeyNode& root, const RegKeyPath& path) {
    RegKeyNode* node = &root;
    for (const std::string& part : path)
        node = node->EnsureChild(part);
    return node;
}

bool DeleteKeyTree(RegKeyNode& root, const RegKeyPath& path) {
    if (path.empty()) return false;
    RegKeyPath parent_path(path.begin(), path.end() - 1);
    RegKeyNode* parent = FindKey(root, parent_path);
    if (parent == nullptr) return false;
    return parent->subkeys.erase(path.back()) != 0;
}

std::string StringDataOf(std::string_view bytes) {
    return std::string(bytes.substr(0, bytes.find('\0')));
}

void ApplyChange(RegKeyNode& root, const RegChange& change) {
    switch (change.kind) {
        case RegChange::Kind::kCreateKey:
            EnsureKey(root, change.key);
            break;
        case RegChange::Kind::kDeleteKey:
            DeleteKeyTree(root, change.key);
            break;
        case RegChange::Kind::kSetValue:
            EnsureKey(root, change.key)->SetValue(change.value_name, change.type, change.data);
            break;
        case RegChange::Kind::kDeleteValue:
            if (RegKeyNode* node = FindKey(root, change.key)) node->DeleteValue(change.value_name);
            break;
    }
}

}  // namespace scopa
