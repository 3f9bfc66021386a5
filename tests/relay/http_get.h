#pragma once

// One HTTP GET, answered within the test's patience.
#include "support/pump.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>

namespace orvane::relay::test {

struct HttpAnswer {
    int status = 0; // 0: no answer
    QByteArray body;
};

inline HttpAnswer httpGet(const QUrl& url)
{
    QNetworkAccessManager manager;
    QNetworkReply* reply = manager.get(QNetworkRequest(url));
    HttpAnswer answer;
    if (orvane::test::pumpUntil([reply] { return reply->isFinished(); }, 10'000)) {
        answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        answer.body = reply->readAll();
    }
    delete reply;
    return answer;
}

} // namespace orvane::relay::test
