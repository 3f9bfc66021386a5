#include "load.h"

#include "phone/phone_client.h"
#include "protocol/random.h"

#include <chrono>

namespace orvane::loadgen {

using phone::PhoneClient;
using phone::ReconnectOutcome;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int ioTimeoutMs = 5'000;

// Connect, hello with a token, reconnect: true when welcomed.
bool reconnect(PhoneClient& client, std::uint16_t port, const PhoneIdentity& identity)
{
    client.setTimeout(ioTimeoutMs);
    if (!client.connect("127.0.0.1", port, ioTimeoutMs) ||
        !client.hello(identity.name, identity.id, true))
        return false;
    auto outcome = client.reconnect(identity.token);
    return outcome && outcome->kind == ReconnectOutcome::Kind::connected;
}

} // namespace

void Counters::addReconnect(double ms)
{
    std::lock_guard lock(m_lock);
    m_reconnects.push_back(ms);
}

std::vector<double> Counters::takeReconnects()
{
    std::lock_guard lock(m_lock);
    return std::exchange(m_reconnects, {});
}

std::size_t phonesNeeded(const LoadPlan& plan)
{
    return plan.commandPhones + plan.viewers + (plan.reconnectProbe ? 1 : 0);
}

Load::Load(std::uint16_t port, const std::vector<PhoneIdentity>& phones, const LoadPlan& plan)
    : m_port(port), m_plan(plan)
{
    std::size_t next = 0;
    for (std::size_t i = 0; i < plan.commandPhones; ++i)
        m_threads.emplace_back([this, &phone = phones[next++]] { sendCommands(phone); });
    for (std::size_t i = 0; i < plan.viewers; ++i)
        m_threads.emplace_back([this, &phone = phones[next++]] { watchWithoutReading(phone); });
    if (plan.reconnectProbe)
        m_threads.emplace_back([this, &phone = phones[next++]] { probe(phone); });
    if (plan.helloStorm)
        m_threads.emplace_back([this] { storm(); });
}

Load::~Load()
{
    m_stop = true;
    for (auto& thread : m_threads)
        thread.join();
}

void Load::pause(int ms) const
{
    for (int waited = 0; waited < ms && !m_stop; waited += 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

// A soak spreads each phone's commands evenly over the run, so that the
// server is busy at its end as at its start.
void Load::waitForTurn(std::chrono::steady_clock::time_point begun, std::size_t sent) const
{
    if (m_plan.spreadSeconds <= 0 || m_plan.commandsPerPhone == 0)
        return;
    const auto due = begun + std::chrono::milliseconds(std::int64_t(m_plan.spreadSeconds) * 1000 *
                                                       std::int64_t(sent) /
                                                       std::int64_t(m_plan.commandsPerPhone));
    while (!m_stop && std::chrono::steady_clock::now() < due)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

// A command that every computer answers at once and that changes nothing:
// a shortcut no one has.
void Load::sendCommands(const PhoneIdentity& identity)
{
    const OrvaneCommand harmless = command::RunShortcut{{"orvane-loadgen: no such shortcut"}};
    std::size_t sent = 0;
    const auto begun = std::chrono::steady_clock::now();
    while (!m_stop && sent < m_plan.commandsPerPhone) {
        PhoneClient client;
        if (!reconnect(client, m_port, identity)) {
            pause(100);
            continue;
        }
        for (; !m_stop && sent < m_plan.commandsPerPhone; ++sent) {
            waitForTurn(begun, sent);
            if (m_stop)
                break;
            auto id = client.run(harmless);
            ++m_counters.sent;
            if (id && client.waitForResult(*id, ioTimeoutMs)) {
                ++m_counters.answered;
                continue;
            }
            ++m_counters.lost;
            ++sent;
            break; // a fresh connection for the rest
        }
    }
    ++m_phonesDone;
}

// A viewer that asks for full-size frames and never reads one, for longer
// than the server waits on a stuck viewer: the server must drop it rather
// than hold its frames. Then it comes back.
void Load::watchWithoutReading(const PhoneIdentity& identity)
{
    while (!m_stop) {
        PhoneClient client;
        if (reconnect(client, m_port, identity) && client.send(msg::StartScreenShare{{false}})) {
            ++m_counters.viewerStarts;
            pause(15'000);
        }
        client.close();
        pause(1'000);
    }
}

// Strangers asking to pair: the server shows one code at a time, at most
// ten a minute, and refuses the rest.
void Load::storm()
{
    while (!m_stop) {
        PhoneClient client;
        client.setTimeout(ioTimeoutMs);
        if (client.connect("127.0.0.1", m_port, ioTimeoutMs) &&
            client.hello("Storm", makeUuid(systemRandom()), false))
            ++m_counters.helloes;
        client.pendingRejection(50);
    }
}

void Load::probe(const PhoneIdentity& identity)
{
    while (!m_stop) {
        PhoneClient client;
        const auto begun = Clock::now();
        if (reconnect(client, m_port, identity))
            m_counters.addReconnect(
                std::chrono::duration<double, std::milli>(Clock::now() - begun).count());
        else
            ++m_counters.reconnectFailures;
        client.close();
        pause(200);
    }
}

} // namespace orvane::loadgen
