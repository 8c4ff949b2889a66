// RegistryKey: the registry calls wrapped for code that wants whole strings and RAII.
#include <utility>

#include "platform/registry.h"

namespace scopa {

RegistryKey RegistryKey::Open(HKEY parent, std::string_view path) {
    HKEY key = nullptr;
    std::string text(path);
    if (RegOpenKeyA(parent, text.c_str(), &key) != ERROR_SUCCESS) return RegistryKey();
    return RegistryKey(key);
}

RegistryKey RegistryKey::Create(HKEY parent, std::string_view path) {
    HKEY key = nullptr;
    std::string text(path);
    if (RegCreateKeyA(parent, text.c_str(), &key) != ERROR_SUCCESS) return RegistryKey();
    return RegistryKey(key);
}

RegistryKey::~RegistryKey() {
    if (m_key != nullptr) RegCloseKey(m_key);
}

RegistryKey::RegistryKey(RegistryKey&& other) noexcept
    : m_key(std::exchange(other.m_key, nullptr)) {}

RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept {
    if (this != &other) {
        if (m_key != nullptr) RegCloseKey(m_key);
        m_key = std::exchange(other.m_key, nullptr);
    }
    return *this;
}

std::optional<std::string> RegistryKey::ReadString(std::string_view name) const {
    if (m_key == nullptr) return std::nullopt;
    std::string value_name(name);
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(m_key, value_name.c_str(), nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ || size == 0) {
        return std::nullopt;
    }
    std::string text(size, '\0');
    if (RegQueryValueExA(m_key, value_name.c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(text.data()), &size) != ERROR_SUCCESS ||
        type != REG_SZ) {
        return std::nullopt;
    }
    text.resize(size > 0 ? size - 1 : 0);
    return text;
}

std::optional<DWORD> RegistryKey::ReadDword(std::string_view name) const {
    if (m_key == nullptr) return std::nullopt;
    std::string value_name(name);
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegQueryValueExA(m_key, value_name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value),
                         &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof value) {
        return std::nullopt;
    }
    return value;
}

bool RegistryKey::WriteString(std::string_view name, std::string_view text) {
    if (m_key == nullptr) return false;
    std::string value_name(name);
    std::string data(text);
    return RegSetValueExA(m_key, value_name.c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(data.c_str()),
                          DWORD(data.size() + 1)) == ERROR_SUCCESS;
}

bool RegistryKey::WriteDword(std::string_view name, DWORD value) {
    if (m_key == nullptr) return false;
    std::string value_name(name);
    return RegSetValueExA(m_key, value_name.c_str(), 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&value), sizeof value) == ERROR_SUCCESS;
}

}  // namespace scopa
