#pragma once
// Envelopes of the central server's SOAP interface: the operation table, the
// writer (requests exactly as the server expects them; answers and faults as
// the server sends them) and a bounded reader for both directions.
//
// Shared by the client (transfer/core) and the loopback test server.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <vector>

namespace strandel::soap {

inline constexpr char kServiceNamespace[] = "urn:EchoServiceIntf-IEchoService";
inline constexpr char kTypesNamespace[] = "urn:EchoServiceIntf";
inline constexpr char kEnvelopeNamespace[] = "http://schemas.xmlsoap.org/soap/envelope/";
inline constexpr char kEncodingNamespace[] = "http://schemas.xmlsoap.org/soap/encoding/";
inline constexpr char kXsdNamespace[] = "http://www.w3.org/2001/XMLSchema";
inline constexpr char kXsiNamespace[] = "http://www.w3.org/2001/XMLSchema-instance";
inline constexpr char kServicePath[] = "/strandelsvr.exe/soap/echoservice";

// The SOAPAction header value, quotes included.
QByteArray soapAction(const QString &operation);

enum class Type {
    String, // string and wide string alike
    Int,
    Double,
    Boolean,
    DateTime,
    Date,
    Decimal,
    StringList,
    StringArray,
    WStringArray,
    IntArray,
    DoubleArray,
    Struct,      // SoapStruct
    StructArray, // ArrayofSOAPStruct
    Attachment,
};

struct ParamInfo
{
    const char *name;
    Type type;
    bool inOut = false;
};

struct OperationInfo
{
    const char *name;
    std::vector<ParamInfo> params;
    Type result;
};

// The 35 operations in the server's declaration order.
const std::vector<OperationInfo> &operations();
const OperationInfo *findOperation(const QString &name); // exact name

// One value to write: a scalar (text), an array (items), a SoapStruct
// (items = varString, varWString, varInt, varDouble) or an attachment
// reference (text = the content id, without "cid:").
struct Value
{
    QString name;
    Type type = Type::String;
    QString text;
    QStringList items;
    // Answers only: write an array as a multi-reference (href="#n").
    bool multiRef = false;
};

Value stringValue(const QString &name, const QString &text);
Value intValue(const QString &name, qint64 v);
Value boolValue(const QString &name, bool v);
Value stringArrayValue(const QString &name, const QStringList &items);
Value attachmentValue(const QString &name, const QString &contentId);

// A request envelope exactly as the server expects it (UTF-8, LF line ends).
QByteArray requestEnvelope(const QString &operation, const QList<Value> &params);
// An answer envelope: <operation>Response holding the values in order
// (return first, then in/out parameters).
QByteArray responseEnvelope(const QString &operation, const QList<Value> &values);
// A fault envelope. faultCode "SOAP-ENV:Server" when empty.
QByteArray faultEnvelope(const QString &faultString, const QString &faultCode = {},
                         const QString &detail = {});

// XML text escaping for element content and attribute values.
QString xmlEscape(const QString &text);

// ---- reading -------------------------------------------------------------

struct XmlAttribute
{
    QString ns;
    QString name;
    QString value;
};

struct XmlNode
{
    QString ns;
    QString name; // local name
    QList<XmlAttribute> attributes;
    QString text; // character data directly inside (concatenated)
    std::vector<XmlNode> children;
    // Non-blank text, a comment or a processing instruction came before the
    // first child element.
    bool contentBeforeFirstChild = false;

    QString attribute(const QString &localName) const; // any namespace
    bool hasAttribute(const QString &localName) const;
    const XmlNode *child(const QString &localName, Qt::CaseSensitivity cs = Qt::CaseSensitive) const;
};

struct ReadLimits
{
    int maxDepth = 32;
    int maxElements = 200000;
};

// Parses a whole document. A document type declaration (and so any entity
// declaration) is refused, as are unknown entities, nesting beyond the depth
// limit and more elements than the limit.
bool parseXml(const QByteArray &xml, XmlNode *root, QString *error, const ReadLimits &limits = {});

// An envelope as read.
struct Message
{
    XmlNode envelope;
    const XmlNode *body = nullptr;
    const XmlNode *operation = nullptr; // first element of Body (null for a fault)
    bool isFault = false;
    QString faultCode;
    QString faultString;
    QString faultDetail;

    Message() = default;
    Message(const Message &other) { *this = other; }
    Message &operator=(const Message &other);

    // The answer's return element: named "return" in any case, else the only child.
    const XmlNode *returnNode() const;
    // A parameter by name: exact for answers (in/out parameters), any case for requests.
    const XmlNode *parameter(const QString &name, Qt::CaseSensitivity cs) const;
    // Follows href="#id" to the element with that id anywhere in Body.
    const XmlNode *resolve(const XmlNode *node) const;
    QString text(const XmlNode *node) const;            // resolved, "" for null
    QStringList stringArray(const XmlNode *node) const; // resolved, items by position
    // The content id an attachment reference points to ("cid:" removed), or "".
    static QString attachmentRef(const XmlNode *node);

    // Recomputes body and operation after the envelope changed.
    void fixPointers();
};

// Reads an envelope (answer or request) from its bytes.
bool readMessage(const QByteArray &xml, Message *message, QString *error, const ReadLimits &limits = {});

} // namespace strandel::soap
