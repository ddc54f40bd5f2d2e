#pragma once

// GMime's headers come after Qt's everywhere; QT_NO_KEYWORDS keeps GLib's "signals" and friends apart.
#include <QByteArray>
#include <QString>

#include <gmime/gmime.h>

#include <utility>

namespace qm::cli::gmime {

// GMime keeps process-wide tables; the first call sets them up, later calls do nothing.
void initialize();

// Owns one reference to a GObject.
template <typename T> class Ref {
public:
    Ref() = default;
    // Takes over a reference the caller owns (what GMime's *_new functions return).
    static Ref adopt(T* object) {
        Ref ref;
        ref.object_ = object;
        return ref;
    }
    // Adds a reference of its own to an object someone else keeps.
    static Ref retain(T* object) {
        if (object)
            g_object_ref(object);
        return adopt(object);
    }
    Ref(const Ref& other)
        : object_(other.object_) {
        if (object_)
            g_object_ref(object_);
    }
    Ref(Ref&& other) noexcept
        : object_(std::exchange(other.object_, nullptr)) {}
    Ref& operator=(Ref other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    ~Ref() {
        if (object_)
            g_object_unref(object_);
    }

    T* get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

private:
    T* object_ = nullptr;
};

inline QString toQString(const char* utf8) {
    return utf8 ? QString::fromUtf8(utf8) : QString();
}

// Frees a string GLib allocated once it goes out of scope.
class OwnedString {
public:
    explicit OwnedString(char* text)
        : text_(text) {}
    ~OwnedString() { g_free(text_); }
    OwnedString(const OwnedString&) = delete;
    OwnedString& operator=(const OwnedString&) = delete;
    const char* get() const { return text_; }
    QString toQString() const { return gmime::toQString(text_); }

private:
    char* text_;
};

// The lower-case "type/subtype" of a part.
QString mimeTypeOf(GMimeObject* object);

} // namespace qm::cli::gmime
