#include "ddelink/SyncRequest.h"

#include "ddelink/DdeError.h"
#include "ddelink/DdeLinkLog.h"
#include "ddelink/KIDdeClientConv.h"
#include "platform/TextCodec.h"

namespace orvane {

TSyncRequest::TSyncRequest() = default;
TSyncRequest::~TSyncRequest() = default;

QString TSyncRequest::RequestText(TKIDdeClientConv* conversation, const QString& item,
                                  int timeoutMs) {
    const QByteArray reply = Run(conversation, item, nullptr, timeoutMs);
    return fromWindows1252(reply.constData(), reply.size());
}

QByteArray TSyncRequest::RequestRaw(TKIDdeClientConv* conversation, const QString& item,
                                    RawReader reader, int timeoutMs) {
    return Run(conversation, item, reader, timeoutMs);
}

QByteArray TSyncRequest::Run(TKIDdeClientConv* conversation, const QString& item, RawReader reader,
                             int timeoutMs) {
    // Without a live conversation the request would be dropped and only the
    // time-out would end the wait.
    if (conversation == nullptr || !conversation->IsConnected()) {
        throw Exception(QStringLiteral("Control has not been connected."));
    }
    m_synchronizer.StartTransaction();
    const bool raw = reader != nullptr;
    m_reader = reader;
    m_error.reset();
    m_reply.clear();
    DWORD transaction = 0;
    try {
        const TDdeDataEvent callback(this, &TSyncRequest::Received);
        transaction =
            raw ? conversation->RequestRaw(item, callback) : conversation->Request(item, callback);
    } catch (...) {
        m_synchronizer.CompleteTransaction();
        throw;
    }
    if (transaction == 0) {
        m_synchronizer.CompleteTransaction();
        throw Exception(QStringLiteral("Control has not been connected."));
    }
    try {
        m_synchronizer.WaitForCompletion(timeoutMs > 0 ? timeoutMs : Synchronizer::TimeoutMs());
    } catch (const SynchronizerException&) {
        qCWarning(lcDdeLink) << "request of" << item << "on" << conversation->TopicName()
                             << "abandoned after its time-out";
        conversation->Abandon(transaction);
        m_synchronizer.CompleteTransaction();
        throw;
    }
    if (m_error) {
        const std::unique_ptr<EDdeError> error = std::move(m_error);
        throw EDdeError(*error);
    }
    return std::move(m_reply);
}

void TSyncRequest::Received(const char* value, EDdeError* error) {
    if (error) {
        m_error.reset(error);
    } else if (value) {
        m_reply = m_reader ? m_reader(value) : QByteArray(value);
    }
    m_synchronizer.CompleteTransaction();
}

} // namespace orvane
