// The per-user settings file: keys of typed values, as the program's own
// configuration store.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One text file, $XDG_CONFIG_HOME/Merovex/Tidewell.conf, shared by every
// part of the program and by every process of the user. Keys are backslash
// paths such as "Software\Merovex\Tidewell\Settings"; key and value names
// compare ignoring ASCII case; the value named "" is the key's default value.
//
// Every call reads the file afresh, so a change made by another process is
// seen at once; every change rewrites the whole file through a temporary file
// and a rename, so readers never see half a file. Lines the reader does not
// understand are kept as they stand and written back unchanged. The file is
// created readable by the user alone (0600, its folder 0700).
//
// Failures return false with the reason in lastError(): ENOENT for a missing
// key or value, EBADMSG for a value of another type, EINVAL for a key that
// cannot be stored, or the errno of the failed file operation. A file that
// cannot be read is never overwritten.
class SettingsFile {
public:
    enum class Type { dword, string, binary };

    struct Value {
        std::string name;
        Type type = Type::string;
        std::uint32_t dword = 0; // when type is dword
        std::string data;        // bytes of a string or binary value
    };

    // The user's file at defaultPath().
    SettingsFile();
    explicit SettingsFile(std::string path);

    // $XDG_CONFIG_HOME (or ~/.config) + "/Merovex/Tidewell.conf".
    static std::string defaultPath();
    const std::string& path() const { return path_; }

    bool readValue(const std::string& key, const std::string& name, Value& out) const;
    bool readDword(const std::string& key, const std::string& name, std::uint32_t& out) const;
    bool readString(const std::string& key, const std::string& name, std::string& out) const;
    bool readBinary(const std::string& key, const std::string& name, std::string& out) const;
    // The key's values in file order.
    bool listValues(const std::string& key, std::vector<Value>& out) const;
    bool keyExists(const std::string& key) const;

    // Creates the key as needed and replaces a value of the same name.
    bool writeValue(const std::string& key, const Value& value);
    // Several values of one key in one rewrite: all of them or none.
    bool writeValues(const std::string& key, const std::vector<Value>& values);
    bool writeDword(const std::string& key, const std::string& name, std::uint32_t value);
    bool writeString(const std::string& key, const std::string& name, const std::string& value);
    bool writeBinary(const std::string& key, const std::string& name, const std::string& bytes);

    bool deleteValue(const std::string& key, const std::string& name);
    // Removes the key and every key below it.
    bool deleteKey(const std::string& key);

private:
    std::string path_;
};
