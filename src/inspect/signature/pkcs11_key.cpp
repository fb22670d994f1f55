// libcrypto 3 deprecates its ENGINE interface, but providers for PKCS#11
// are not part of Debian 12's OpenSSL; the engine is the one way there.
#define OPENSSL_SUPPRESS_DEPRECATED

#include "inspect/signature/pkcs11_key.h"

#include <openssl/err.h>
#include <openssl/ui.h>
#ifndef OPENSSL_NO_ENGINE
#include <openssl/engine.h>
#endif

#include <algorithm>

#include "inspect/text/plain_text.h"
#include "inspect/signature/token_libraries.h"
#include "platform/loaded_code.h"

namespace fw {
namespace {

constexpr const char* noEngine =
    "PKCS#11 keys need OpenSSL's pkcs11 engine (libengine-pkcs11-openssl), which is not available here";

// The URI without any pin-value attribute.
std::string withoutPin(const std::string& uri) {
    std::string shown;
    std::size_t at = 0;
    while (at <= uri.size()) {
        const std::size_t end = std::min(uri.find_first_of(";?&", at), uri.size());
        const std::string piece = uri.substr(at, end - at);
        if (piece.rfind("pin-value=", 0) != 0) {
            shown += piece;
            if (end < uri.size()) shown += uri[end];
        }
        at = end + 1;
    }
    while (!shown.empty() && (shown.back() == ';' || shown.back() == '?' || shown.back() == '&')) shown.pop_back();
    return shown;
}

#ifndef OPENSSL_NO_ENGINE

std::string failure(const std::string& what, const std::string& uri, const char* pin) {
    const std::string reason = takeCryptoReason(ErrorEnd::first);
    std::string message = "cannot load the " + what + " " + shownUri(uri) + " from its token";
    if (pin == nullptr && withoutPin(uri) == uri)
        return message + ": no PIN was given (--pass-env names the variable that holds it)";
    return reason.empty() ? message : message + " (" + reason + ")";
}

// The engine named by its full path, loaded by the dynamic engine; its
// imports come from beside it or the system, never the working folder.
ENGINE* engineAt(const std::string& path, std::string* why) {
    if (!keepLibraryLoaded(path, why)) return nullptr;
    ENGINE* e = ENGINE_by_id("dynamic");
    if (e != nullptr && (ENGINE_ctrl_cmd_string(e, "SO_PATH", path.c_str(), 0) != 1 ||
                         ENGINE_ctrl_cmd_string(e, "ID", "pkcs11", 0) != 1 ||
                         ENGINE_ctrl_cmd_string(e, "LOAD", nullptr, 0) != 1)) {
        *why = takeCryptoReason(ErrorEnd::first);
        ENGINE_free(e);
        return nullptr;
    }
    return e;
}

std::string engineMissing(const std::string& path, const std::string& reason) {
    if (path.empty()) return noEngine;
    return "PKCS#11 keys need OpenSSL's pkcs11 engine, which cannot be loaded from " + escapePath(path) +
           (reason.empty() ? "" : " (" + reason + ")") + "; " + engineVariable + " names it by its full path";
}

struct TokenEngine {
    ENGINE* engine = nullptr;
    std::string why;  // when there is no engine
};

TokenEngine loadEngine() {
    TokenLibraries libraries;
    TokenEngine loaded;
    if (!chooseTokenLibraries(libraries, &loaded.why)) return loaded;
    std::string reason;
    // Without a path, libcrypto's engines folder (or $OPENSSL_ENGINES).
    ENGINE* e = libraries.engine.empty() ? ENGINE_by_id("pkcs11") : engineAt(libraries.engine, &reason);
    if (e == nullptr) {
        loaded.why = engineMissing(libraries.engine, reason);
        ERR_clear_error();
        return loaded;
    }
    // Its own lines on standard error would break our one-line messages.
    ENGINE_ctrl_cmd(e, "QUIET", 0, nullptr, nullptr, 0);
    if (!libraries.module.empty()) {
        if (!keepLibraryLoaded(libraries.module, &reason)) {
            loaded.why = "cannot load the PKCS#11 module " + escapePath(libraries.module) + " (" + reason + "); " +
                         moduleVariable + " names it by its full path";
        } else if (ENGINE_ctrl_cmd_string(e, "MODULE_PATH", libraries.module.c_str(), 0) != 1) {
            loaded.why = "the pkcs11 engine does not take the module " + escapePath(libraries.module);
        }
    }
    if (loaded.why.empty() && ENGINE_init(e) != 1) loaded.why = engineMissing(libraries.engine, takeCryptoReason(ErrorEnd::first));
    if (loaded.why.empty()) loaded.engine = e;
    else ENGINE_free(e);
    ERR_clear_error();
    return loaded;
}

// Loaded once and kept for the run: keys it made refer to it, and its
// module must not be unloaded before they are freed.
const TokenEngine& tokenEngine() {
    static const TokenEngine engine = loadEngine();
    return engine;
}

// The engine asks a UI for a PIN it was not given; a tool run from scripts
// must not wait at a prompt, so this UI answers nothing.
UI_METHOD* noPrompt() {
    static UI_METHOD* const method = [] {
        UI_METHOD* m = UI_create_method("fwinspect: no prompt");
        if (m != nullptr) UI_method_set_reader(m, [](UI*, UI_STRING*) { return 0; });
        return m;
    }();
    return method;
}

// The PIN stays in the engine only while one object is loaded.
class PinGiven {
public:
    PinGiven(ENGINE* e, const char* pin) : e_(e) {
        ENGINE_ctrl_cmd(e_, "PIN", 0, const_cast<char*>(pin), nullptr, 0);
    }
    ~PinGiven() { ENGINE_ctrl_cmd(e_, "PIN", 0, nullptr, nullptr, 0); }

private:
    ENGINE* e_;
};

#endif

}  // namespace

bool isTokenUri(const std::string& name) { return name.rfind("pkcs11:", 0) == 0; }

std::string shownUri(const std::string& uri) { return escapeText(withoutPin(uri)); }

std::string shownName(const std::string& name) { return isTokenUri(name) ? shownUri(name) : escapePath(name); }

#ifndef OPENSSL_NO_ENGINE

KeyPtr loadTokenKey(const std::string& uri, const char* pin, std::string* why) {
    ENGINE* e = tokenEngine().engine;
    if (e == nullptr) {
        *why = tokenEngine().why;
        return nullptr;
    }
    KeyPtr key;
    {
        const PinGiven given(e, pin);
        key.reset(ENGINE_load_private_key(e, uri.c_str(), noPrompt(), nullptr));
    }
    if (!key) *why = failure("key", uri, pin);
    ERR_clear_error();
    return key;
}

CertPtr loadTokenCertificate(const std::string& uri, const char* pin, std::string* why) {
    ENGINE* e = tokenEngine().engine;
    if (e == nullptr) {
        *why = tokenEngine().why;
        return nullptr;
    }
    // The engine's control for it takes this pair, by its documentation.
    struct {
        const char* id;
        X509* cert;
    } request{uri.c_str(), nullptr};
    {
        const PinGiven given(e, pin);
        ENGINE_ctrl_cmd(e, "LOAD_CERT_CTRL", 0, &request, nullptr, 1);
    }
    CertPtr cert(request.cert);
    if (!cert) *why = failure("certificate", uri, pin);
    ERR_clear_error();
    return cert;
}

#else

KeyPtr loadTokenKey(const std::string&, const char*, std::string* why) {
    *why = noEngine;
    return nullptr;
}

CertPtr loadTokenCertificate(const std::string&, const char*, std::string* why) {
    *why = noEngine;
    return nullptr;
}

#endif

}  // namespace fw
