#include "typist.h"

#include <QElapsedTimer>

namespace orvane {

std::size_t sliceEnd(std::string_view text, std::size_t offset, std::size_t limit)
{
    std::size_t end = std::min(text.size(), offset + limit);
    if (end == text.size())
        return end;
    std::size_t cut = end;
    // Back off over continuation bytes; a run longer than a UTF-8 sequence
    // is invalid anyway, so give up there rather than loop back to offset.
    while (cut > offset && end - cut < 4 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    if (cut == offset || end - cut >= 4)
        cut = end;
    if (cut > offset && text[cut - 1] == '\r' && text[cut] == '\n')
        ++cut;
    return cut;
}

Typist::Typist(InputDevice& input) : m_input(input)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(0);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { turn(); });
}

void Typist::type(const Uuid& owner, std::string utf8, std::function<void()> done)
{
    m_jobs.push_back(Job{owner, std::move(utf8), 0, std::move(done)});
    if (!m_inTurn && m_jobs.size() == 1)
        turn();
}

void Typist::cancel(const Uuid& owner)
{
    std::erase_if(m_jobs, [&](const Job& job) { return job.owner == owner; });
    if (m_jobs.empty())
        m_timer.stop();
}

bool Typist::typeSlice(Job& job)
{
    std::size_t end = sliceEnd(job.text, job.offset, sliceBytes);
    m_input.typeText(std::string_view(job.text).substr(job.offset, end - job.offset));
    job.offset = end;
    return job.offset >= job.text.size();
}

void Typist::turn()
{
    m_inTurn = true;
    QElapsedTimer elapsed;
    elapsed.start();
    while (!m_jobs.empty() && elapsed.elapsed() < turnBudgetMs) {
        Job& job = m_jobs.front();
        if (typeSlice(job)) {
            auto done = std::move(job.done);
            m_jobs.pop_front();
            m_input.flush();
            if (done)
                done(); // may start or cancel typing
        } else if (m_jobs.size() > 1) {
            // Take turns: the next phone's text goes on.
            m_jobs.push_back(std::move(m_jobs.front()));
            m_jobs.pop_front();
        }
    }
    m_input.flush();
    m_inTurn = false;
    if (!m_jobs.empty())
        m_timer.start();
}

} // namespace orvane
