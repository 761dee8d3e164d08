// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The per-user settings store: one flat key/value section ("Settings") of the application
// "Postlark", kept in $XDG_CONFIG_HOME/Postlark/settings.ini. Every read checks the file's
// identity (device, inode, size, modification time) with one stat and parses the file again
// only when it changed, so a value saved anywhere (another window, another running copy) is
// seen by the next read, and a read of one key otherwise costs a hash lookup.
// Every write replaces the whole file atomically under an exclusive lock, so two running
// copies never lose each other's keys and a crash leaves either the old or the new content.
//
// Keys and values are single-byte text: every byte 0-255 is kept as given.
// Write failures raise RuntimeError 75 ("Path/File access error"); reads never fail.
// Saving what is already stored writes nothing and needs no write access.
#include "platform/base/RuntimeError.h"

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace postlark {

// A failed save: RuntimeError 75 with the whole story (what, where, why) as its description,
// and the bare cause ("Permission denied") as Reason, short enough for a status bar.
class SettingsStoreError : public RuntimeError {
public:
    SettingsStoreError(std::string description, std::string reason)
        : RuntimeError(75, std::move(description), "SettingsStore"), Reason(std::move(reason)) {}

    std::string Reason;
};

class SettingsStore {
public:
    // One step of a transaction: set the key to the value, or delete the key when the value
    // is empty (std::nullopt).
    struct Change {
        std::string Key;
        std::optional<std::string> Value;

        static Change Set(std::string key, std::string value) {
            return {std::move(key), std::move(value)};
        }
        static Change Delete(std::string key) { return {std::move(key), std::nullopt}; }
    };

    // Read-only view of the stored values handed to an Update callback.
    using Lookup = std::function<std::optional<std::string>(const std::string& key)>;

    // The stored text, or the default when the key is absent.
    static std::string GetValue(const std::string& key, const std::string& defaultValue = "");
    // The stored texts of many keys from one version of the store, each the default when its
    // key is absent: one check of the file for all of them instead of one per key.
    static std::vector<std::string> GetValues(const std::vector<std::string>& keys,
                                              const std::string& defaultValue = "");
    // The same from the store file at `filePath` (as FilePath() gave it): a caller that reads
    // again and again, like a check run once per account, looks up the path only once.
    static std::vector<std::string> GetValuesAt(const std::string& filePath,
                                                const std::vector<std::string>& keys,
                                                const std::string& defaultValue = "");
    // Calls use(values) once with the stored text of each key (nullptr where a key is absent),
    // all from one version of the store and valid during the call: many values read without
    // a copy of each.
    static void WithValues(const std::vector<std::string>& keys,
                           const std::function<void(std::span<const std::string* const>)>& use);
    // Creates or replaces the value.
    static void SaveValue(const std::string& key, const std::string& text);
    // Removes the value; removing an absent key does nothing.
    static void DeleteValue(const std::string& key);

    // Number readers: a value that is absent or does not read as a number gives the default.
    static double GetNumber(const std::string& key, double defaultValue);
    static long GetInteger(const std::string& key, long defaultValue);
    // A flag's numeric value: the default only when the key is absent; stored text that is no
    // number ("abc", "true", "") is 0.
    static double GetFlag(const std::string& key, double defaultValue);
    // A flag is on only when its numeric value (GetFlag) equals 1 ("2" and "abc" are off).
    static bool IsFlagOn(const std::string& key, bool defaultOn);
    // Saves an integer in the one form the program writes numbers (see IntegerText).
    static void SaveInteger(const std::string& key, long number);

    // Applies all changes as one atomic replacement of the store.
    static void Apply(const std::vector<Change>& changes);
    // Reads the store and applies the changes computed from it, both under the lock, so no
    // other writer can slip in between the read and the write.
    static void Update(const std::function<std::vector<Change>(const Lookup& stored)>& compute);
    // The same, with `changes` that do not depend on what is stored applied first: they are
    // made once and moved into the store, not made again for every look at it.
    static void Update(std::vector<Change> changes,
                       const std::function<std::vector<Change>(const Lookup& stored)>& compute);

    // Number forms shared by every reader and writer of the store.
    static std::optional<double> ParseNumber(std::string_view text);
    static std::string IntegerText(long number);

    // The folder and file that hold the store (created on the first save); empty when the
    // user has neither a home folder nor XDG_CONFIG_HOME, and every save is then refused.
    static std::string FolderPath();
    static std::string FilePath();

    // Why the store file exists but cannot be read (permissions, an I/O error, a folder in
    // its place), or empty when it can be read or does not exist. Reads of such a store give
    // the defaults, and saves refuse to replace it.
    static std::string ReadProblem();
};

} // namespace postlark
