#include "tools/rates-server/upstream/Upstream.h"

#include <cstdlib>

namespace rates {

struct Upstream::Impl {
    UpstreamOptions Options;
};

Upstream::Upstream(UpstreamOptions options) : FImpl(std::make_unique<Impl>()) {
    FImpl->Options = std::move(options);
}

Upstream::~Upstream() = default;

void Upstream::Fetch(const Date&, Done done) {
    UpstreamResult r;
    r.Error = "not built yet";
    done(r);
}

std::string DefaultUpstreamCacheDir() {
    return {};
}

}  // namespace rates
