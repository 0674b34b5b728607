#pragma once
// One call of any operation of the server's interface through a SoapClient,
// with its whole answer. IEchoService is built on this; tests and the
// operations IEchoService does not expose may use it directly.

#include "transfer/core/echoservice.h"
#include "transfer/core/soapmime.h"
#include "transfer/core/soapwire.h"

#include <vector>

namespace strandel {

struct SoapCallResult
{
    int httpStatus = 0;
    soap::Message message;
    std::vector<SoapAttachmentPtr> attachments;

    // The received attachment with this content id (any case), or, failing
    // that, the part whose Content-Location is `ref`; null when none.
    SoapAttachmentPtr attachment(const QString &ref) const;
    // The return value's text; throws a Protocol SoapError when there is none.
    QString returnText() const;
};

// Sends `operation` with `params` (and the attachments, content ids already
// referenced by the params) and waits for the answer. Throws SoapError.
SoapCallResult soapCall(SoapClient &client, const QString &operation, const QList<soap::Value> &params,
                        const QList<soap::OutgoingPart> &attachments = {});

} // namespace strandel
