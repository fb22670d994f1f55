// What a loaded signer holds, shared by loading it and signing with it.
#pragma once

#include "inspect/signature/crypto_support.h"

namespace fw {

struct Signer::State {
    KeyPtr key;
    CertPtr cert;
    CertsPtr chain;  // without the signer's own certificate, each once
};

}  // namespace fw
