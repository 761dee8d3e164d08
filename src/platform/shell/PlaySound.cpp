// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/shell/PlaySound.h"

#include <QFile>

#include <canberra.h>
#include <dlfcn.h>

namespace postlark::win {

namespace {

struct Alias {
    const char* name;
    const char* eventId;
    const char* description;
};

constexpr Alias kAliases[] = {
    {"MailBeep", "message-new-email", "New mail"},
};

const Alias* FindAlias(const QString& name) {
    for (const Alias& alias : kAliases)
        if (name.compare(QLatin1String(alias.name), Qt::CaseInsensitive) == 0)
            return &alias;
    return nullptr;
}

// libcanberra, loaded when the first sound is played rather than at start-up: most runs never
// play one, and the library brings its sound backends along.
struct Canberra {
    decltype(&::ca_context_create) create = nullptr;
    decltype(&::ca_context_change_props) change_props = nullptr;
    decltype(&::ca_context_play) play = nullptr;
    decltype(&::ca_context_destroy) destroy = nullptr;

    Canberra() {
        void* library = ::dlopen("libcanberra.so.0", RTLD_NOW | RTLD_LOCAL);
        if (!library)
            return;
        create = reinterpret_cast<decltype(create)>(::dlsym(library, "ca_context_create"));
        change_props =
            reinterpret_cast<decltype(change_props)>(::dlsym(library, "ca_context_change_props"));
        play = reinterpret_cast<decltype(play)>(::dlsym(library, "ca_context_play"));
        destroy = reinterpret_cast<decltype(destroy)>(::dlsym(library, "ca_context_destroy"));
    }
    bool usable() const { return create && change_props && play && destroy; }
};

// One context for the life of the program; its sound backend is opened on first use.
class SoundContext {
public:
    SoundContext() {
        if (!api_.usable() || api_.create(&context_) != CA_SUCCESS) {
            context_ = nullptr;
            return;
        }
        api_.change_props(context_, CA_PROP_APPLICATION_NAME, "Postlark", nullptr);
    }
    ~SoundContext() {
        if (context_)
            api_.destroy(context_);
    }
    SoundContext(const SoundContext&) = delete;
    SoundContext& operator=(const SoundContext&) = delete;

    // Starts the sound named by `property` (an event id or a file name); does not wait for it.
    bool Play(const char* property, const QByteArray& value, const char* description) {
        if (!context_)
            return false;
        return api_.play(context_, 0, property, value.constData(), CA_PROP_EVENT_DESCRIPTION,
                         description, nullptr) == CA_SUCCESS;
    }

private:
    Canberra api_;
    ca_context* context_ = nullptr;
};

SoundContext& Context() {
    static SoundContext context;
    return context;
}

bool logging = false;
QStringList requests;

void Log(const QString& sound) {
    if (logging)
        requests.append(sound);
}

BOOL PlayAlias(const Alias& alias) {
    Log(QString::fromLatin1(alias.eventId));
    return Context().Play(CA_PROP_EVENT_ID, alias.eventId, alias.description) ? TRUE_ : FALSE_;
}

BOOL PlayFile(const QString& path) {
    Log(path);
    return Context().Play(CA_PROP_MEDIA_FILENAME, QFile::encodeName(path), "Sound") ? TRUE_
                                                                                    : FALSE_;
}

} // namespace

BOOL PlaySoundA(const QString& sound, std::intptr_t, DWORD flags) {
    if (sound.isEmpty())
        return FALSE_;
    const Alias* alias = (flags & SND_FILENAME) ? nullptr : FindAlias(sound);
    if (alias)
        return PlayAlias(*alias);
    if (flags & SND_ALIAS)
        return FALSE_;
    return PlayFile(sound);
}

void SetSoundLogging(bool on) {
    logging = on;
    requests.clear();
}

QStringList SoundLog() {
    return requests;
}

} // namespace postlark::win
