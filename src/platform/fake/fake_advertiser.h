#pragma once

#include "platform/service_advertiser.h"

#include <vector>

namespace orvane {

// Records what the server asks to advertise, and reports each publication
// established at once and each withdrawal at once; a test reports a lost
// advertisement by calling onRegistered with an empty name.
class FakeAdvertiser final : public ServiceAdvertiser {
public:
    struct Publication {
        QString name;
        QString type;
        quint16 port;
    };

    void publish(const QString& name, const QString& type, quint16 port) override
    {
        publications.push_back({name, type, port});
        if (onRegistered)
            onRegistered(name);
    }
    void withdraw() override
    {
        ++withdrawals;
        if (onRegistered)
            onRegistered({});
    }

    std::vector<Publication> publications;
    int withdrawals = 0;
};

} // namespace orvane
