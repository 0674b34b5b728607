#include "transfer/core/soapwire.h"

#include <QXmlStreamReader>

namespace strandel::soap {

QByteArray soapAction(const QString &operation)
{
    return "\"" + QByteArray(kServiceNamespace) + "#" + operation.toUtf8() + "\"";
}

const std::vector<OperationInfo> &operations()
{
    static const std::vector<OperationInfo> table = {
        {"echoVolumeDuZip", {{"value", Type::String}}, Type::String},
        {"echoEffacerZip", {{"value", Type::String}}, Type::String},
        {"echoEffacerACK", {{"NomDuACK", Type::String}}, Type::String},
        {"echoEffacerERR", {{"NomDuERR", Type::String}}, Type::String},
        {"echoEffacerOk2", {{"NomDuOk2", Type::String}}, Type::String},
        {"echoConnexion", {{"value", Type::String}}, Type::String},
        {"echoPassWord", {{"value", Type::String}}, Type::String},
        {"echoZipDisponible", {{"value", Type::String}}, Type::String},
        {"echoACKDisponible", {{"REquete", Type::String}}, Type::String},
        {"echoACKouERR", {{"REquete", Type::String}, {"Acces", Type::String, true}}, Type::String},
        {"echoAckErrOk2", {{"REquete", Type::String}, {"Acces", Type::String, true}}, Type::String},
        {"echoReqDejaLa", {{"value", Type::String}}, Type::String},
        {"echoString", {{"value", Type::String}}, Type::String},
        {"echoWString", {{"value", Type::String}}, Type::String},
        {"echoInt", {{"value", Type::Int}}, Type::Int},
        {"echoDouble", {{"value", Type::Double}}, Type::Double},
        {"echoBoolean", {{"value", Type::Boolean}}, Type::Boolean},
        {"echoTDateTime", {{"value", Type::DateTime}}, Type::DateTime},
        {"echoTStringList", {{"value", Type::StringList}}, Type::StringList},
        {"echoStringArray", {{"value", Type::StringArray}}, Type::StringArray},
        {"echoWStringArray", {{"value", Type::WStringArray}}, Type::WStringArray},
        {"echoIntArray", {{"value", Type::IntArray}}, Type::IntArray},
        {"echoDoubleArray", {{"value", Type::DoubleArray}}, Type::DoubleArray},
        {"echoSoapStruct", {{"value", Type::Struct}}, Type::Struct},
        {"echoSoapStructArray", {{"value", Type::StructArray}}, Type::StructArray},
        {"echoDate", {{"value", Type::Date}}, Type::Date},
        {"echoDecimal", {{"value", Type::Decimal}}, Type::Decimal},
        {"GetAttachment", {{"name", Type::String}, {"Usager", Type::String}}, Type::Attachment},
        {"SendAttachment", {{"name", Type::String}, {"Attachment", Type::Attachment}}, Type::Boolean},
        {"GetAttachmentList", {{"Usager", Type::String}}, Type::StringArray},
        {"DebutDownLoadZip", {{"NomDuZip", Type::String}, {"VolumePaquet", Type::Int}}, Type::String},
        {"DebutEnvoiSplit", {{"NomDuZip", Type::String}}, Type::String},
        {"FinEnvoiSplit", {{"NomDuZip", Type::String}}, Type::String},
        {"FinDownLoadZip", {{"NomDuZip", Type::String}}, Type::String},
        {"GetSplitFileList", {{"NomDuZip", Type::String}}, Type::StringArray},
    };
    return table;
}

const OperationInfo *findOperation(const QString &name)
{
    for (const OperationInfo &op : operations())
        if (name == QLatin1String(op.name))
            return &op;
    return nullptr;
}

Value stringValue(const QString &name, const QString &text)
{
    Value v;
    v.name = name;
    v.type = Type::String;
    v.text = text;
    return v;
}

Value intValue(const QString &name, qint64 n)
{
    Value v;
    v.name = name;
    v.type = Type::Int;
    v.text = QString::number(n);
    return v;
}

Value boolValue(const QString &name, bool b)
{
    Value v;
    v.name = name;
    v.type = Type::Boolean;
    v.text = b ? QStringLiteral("true") : QStringLiteral("false");
    return v;
}

Value stringArrayValue(const QString &name, const QStringList &items)
{
    Value v;
    v.name = name;
    v.type = Type::StringArray;
    v.items = items;
    return v;
}

Value attachmentValue(const QString &name, const QString &contentId)
{
    Value v;
    v.name = name;
    v.type = Type::Attachment;
    v.text = contentId;
    return v;
}

QString xmlEscape(const QString &text)
{
    QString out;
    out.reserve(text.size() + 8);
    for (QChar c : text) {
        switch (c.unicode()) {
        case '&': out += QLatin1String("&amp;"); break;
        case '<': out += QLatin1String("&lt;"); break;
        case '>': out += QLatin1String("&gt;"); break;
        case '"': out += QLatin1String("&quot;"); break;
        // A carriage return would be turned into a line feed by the reader.
        case '\r': out += QLatin1String("&#13;"); break;
        default:
            // Characters XML 1.0 cannot carry at all are dropped.
            if (c.unicode() < 0x20 && c != QLatin1Char('\n') && c != QLatin1Char('\t'))
                break;
            out += c;
        }
    }
    return out;
}

namespace {

const char *scalarXsiType(Type t)
{
    switch (t) {
    case Type::Int: return "xsd:int";
    case Type::Double: return "xsd:double";
    case Type::Boolean: return "xsd:boolean";
    case Type::DateTime: return "xsd:dateTime";
    case Type::Date: return "xsd:dateTime";
    case Type::Decimal: return "xsd:decimal";
    default: return "xsd:string";
    }
}

const char *itemXsdType(Type t)
{
    switch (t) {
    case Type::IntArray: return "xsd:int";
    case Type::DoubleArray: return "xsd:double";
    case Type::StructArray: return "NS2:SoapStruct";
    default: return "xsd:string";
    }
}

bool isArray(Type t)
{
    return t == Type::StringList || t == Type::StringArray || t == Type::WStringArray
        || t == Type::IntArray || t == Type::DoubleArray || t == Type::StructArray;
}

QString arrayItems(const Value &v)
{
    QString out;
    for (const QString &item : v.items)
        out += QLatin1String("<item>") + xmlEscape(item) + QLatin1String("</item>");
    return out;
}

QString arrayTypeAttributes(const Value &v)
{
    QString out = QStringLiteral(" SOAP-ENC:arrayType=\"%1[%2]\"")
                      .arg(QLatin1String(itemXsdType(v.type)))
                      .arg(v.items.size());
    if (v.type == Type::StructArray)
        out += QStringLiteral(" xmlns:NS2=\"%1\"").arg(QLatin1String(kTypesNamespace));
    return out;
}

// One value element written inline (multi-reference arrays add their
// target to `trailer`, placed after the operation element).
// The four fields of one SoapStruct, from items[first .. first + 3].
QString structFields(const QStringList &items, int first)
{
    static const char *fields[] = {"varString", "varWString", "varInt", "varDouble"};
    static const char *types[] = {"xsd:string", "xsd:string", "xsd:int", "xsd:double"};
    QString out;
    for (int i = 0; i < 4; ++i)
        out += QStringLiteral("<%1 xsi:type=\"%2\">%3</%1>")
                   .arg(QLatin1String(fields[i]), QLatin1String(types[i]), xmlEscape(items.value(first + i)));
    return out;
}

// A SoapStruct written as a multi-reference element; returns its id.
int addStructTarget(const QStringList &items, int first, QString *trailer, int *nextId)
{
    const int id = (*nextId)++;
    *trailer += QStringLiteral("<NS2:SoapStruct id=\"%1\" xsi:type=\"NS2:SoapStruct\" xmlns:NS2=\"%2\">")
                    .arg(id)
                    .arg(QLatin1String(kTypesNamespace))
                + structFields(items, first) + QLatin1String("</NS2:SoapStruct>");
    return id;
}

// One value element. Objects (SoapStruct) go as multi-reference elements
// added to `trailer`, which the caller places after the operation element;
// arrays are written inline unless `v.multiRef` asks for a reference too.
QString writeValue(const Value &v, QString *trailer, int *nextId)
{
    const QString n = v.name;
    if (v.type == Type::Attachment)
        return QStringLiteral("<%1 href=\"cid:%2\"/>").arg(n, xmlEscape(v.text));
    if (v.type == Type::Struct) {
        if (trailer && nextId)
            return QStringLiteral("<%1 href=\"#%2\"/>").arg(n).arg(addStructTarget(v.items, 0, trailer, nextId));
        return QStringLiteral("<%1 xsi:type=\"NS2:SoapStruct\" xmlns:NS2=\"%2\">").arg(n, QLatin1String(kTypesNamespace))
               + structFields(v.items, 0) + QStringLiteral("</%1>").arg(n);
    }
    if (isArray(v.type)) {
        QString items;
        if (v.type == Type::StructArray) {
            const int count = int(v.items.size() / 4);
            for (int i = 0; i < count; ++i)
                items += trailer && nextId
                             ? QStringLiteral("<item href=\"#%1\"/>").arg(addStructTarget(v.items, 4 * i, trailer, nextId))
                             : QLatin1String("<item>") + structFields(v.items, 4 * i) + QLatin1String("</item>");
        } else {
            items = arrayItems(v);
        }
        Value counted = v;
        if (v.type == Type::StructArray)
            counted.items = v.items.mid(0, int(v.items.size() / 4)); // only the count matters
        if (v.multiRef && trailer && nextId) {
            const int id = (*nextId)++;
            *trailer += QStringLiteral("<SOAP-ENC:Array id=\"%1\"").arg(id) + arrayTypeAttributes(counted)
                        + QLatin1Char('>') + items + QLatin1String("</SOAP-ENC:Array>");
            return QStringLiteral("<%1 href=\"#%2\"/>").arg(n).arg(id);
        }
        return QLatin1Char('<') + n + QLatin1String(" xsi:type=\"SOAP-ENC:Array\"") + arrayTypeAttributes(counted)
               + QLatin1Char('>') + items + QLatin1String("</") + n + QLatin1Char('>');
    }
    return QStringLiteral("<%1 xsi:type=\"%2\">%3</%1>")
        .arg(n, QLatin1String(scalarXsiType(v.type)), xmlEscape(v.text));
}

const char kEnvelopeOpen[] =
    "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\"";
const char kEnvelopeNs[] =
    " xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"";
const char kEncNs[] = " xmlns:SOAP-ENC=\"http://schemas.xmlsoap.org/soap/encoding/\">";
const char kBodyOpen[] =
    "<SOAP-ENV:Body SOAP-ENV:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">";

} // namespace

QByteArray requestEnvelope(const QString &operation, const QList<Value> &params)
{
    QString s;
    s += QLatin1String("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n");
    s += QLatin1String(kEnvelopeOpen) + QLatin1String("\n ") + QLatin1String(kEnvelopeNs)
         + QLatin1String("\n ") + QLatin1String(kEncNs) + QLatin1Char('\n');
    s += QLatin1Char(' ') + QLatin1String(kBodyOpen) + QLatin1Char('\n');
    s += QStringLiteral("  <NS1:%1 xmlns:NS1=\"%2\">\n").arg(operation, QLatin1String(kServiceNamespace));
    s += QLatin1String("   ");
    QString trailer;
    int nextId = 1;
    for (const Value &v : params)
        s += writeValue(v, &trailer, &nextId);
    s += QLatin1Char('\n');
    s += QStringLiteral("  </NS1:%1>\n").arg(operation);
    // Objects follow the operation element, referenced from it.
    if (!trailer.isEmpty())
        s += QLatin1String("  ") + trailer + QLatin1Char('\n');
    s += QLatin1String(" </SOAP-ENV:Body>\n");
    s += QLatin1String("</SOAP-ENV:Envelope>");
    return s.toUtf8();
}

QByteArray responseEnvelope(const QString &operation, const QList<Value> &values)
{
    QString s;
    s += QLatin1String("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n");
    s += QLatin1String(kEnvelopeOpen) + QLatin1String(kEnvelopeNs) + QLatin1String(kEncNs);
    s += QLatin1String(kBodyOpen);
    s += QStringLiteral("<NS1:%1Response xmlns:NS1=\"%2\">").arg(operation, QLatin1String(kServiceNamespace));
    QString trailer;
    int nextId = 1;
    for (const Value &v : values)
        s += writeValue(v, &trailer, &nextId);
    s += QStringLiteral("</NS1:%1Response>").arg(operation);
    s += trailer;
    s += QLatin1String("</SOAP-ENV:Body></SOAP-ENV:Envelope>");
    return s.toUtf8();
}

QByteArray faultEnvelope(const QString &faultString, const QString &faultCode, const QString &detail)
{
    QString s;
    s += QLatin1String("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n");
    s += QLatin1String(kEnvelopeOpen) + QLatin1String(kEnvelopeNs) + QLatin1String(kEncNs);
    s += QLatin1String("<SOAP-ENV:Body><SOAP-ENV:Fault><faultcode>");
    s += xmlEscape(faultCode.isEmpty() ? QStringLiteral("SOAP-ENV:Server") : faultCode);
    s += QLatin1String("</faultcode><faultstring>") + xmlEscape(faultString) + QLatin1String("</faultstring>");
    if (!detail.isEmpty())
        s += QLatin1String("<detail>") + xmlEscape(detail) + QLatin1String("</detail>");
    s += QLatin1String("</SOAP-ENV:Fault></SOAP-ENV:Body></SOAP-ENV:Envelope>");
    return s.toUtf8();
}

// ---- reading ---------------------------------------------------------------

QString XmlNode::attribute(const QString &localName) const
{
    for (const XmlAttribute &a : attributes)
        if (a.name == localName)
            return a.value;
    return {};
}

bool XmlNode::hasAttribute(const QString &localName) const
{
    for (const XmlAttribute &a : attributes)
        if (a.name == localName)
            return true;
    return false;
}

const XmlNode *XmlNode::child(const QString &localName, Qt::CaseSensitivity cs) const
{
    for (const XmlNode &c : children)
        if (c.name.compare(localName, cs) == 0)
            return &c;
    return nullptr;
}

bool parseXml(const QByteArray &xml, XmlNode *root, QString *error, const ReadLimits &limits)
{
    QXmlStreamReader reader(xml);
    // Entities declared by the document are refused below; this is a second fence.
    reader.setEntityExpansionLimit(0);
    std::vector<XmlNode *> stack;
    XmlNode document;
    bool haveRoot = false;
    int elements = 0;
    auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        switch (token) {
        case QXmlStreamReader::DTD:
            return fail(QStringLiteral("Réponse XML refusée : déclaration de type de document"));
        case QXmlStreamReader::EntityReference:
            return fail(QStringLiteral("Réponse XML refusée : entité inconnue"));
        case QXmlStreamReader::StartElement: {
            if (++elements > limits.maxElements)
                return fail(QStringLiteral("Réponse XML refusée : trop d'éléments"));
            if (int(stack.size()) >= limits.maxDepth)
                return fail(QStringLiteral("Réponse XML refusée : imbrication trop profonde"));
            XmlNode node;
            node.ns = reader.namespaceUri().toString();
            node.name = reader.name().toString();
            for (const QXmlStreamAttribute &a : reader.attributes())
                node.attributes.append({a.namespaceUri().toString(), a.name().toString(), a.value().toString()});
            if (stack.empty()) {
                if (haveRoot)
                    return fail(QStringLiteral("Réponse XML invalide : plusieurs racines"));
                document.children.push_back(std::move(node));
                haveRoot = true;
                stack.push_back(&document.children.back());
            } else {
                XmlNode *parent = stack.back();
                parent->children.push_back(std::move(node));
                stack.push_back(&parent->children.back());
            }
            break;
        }
        case QXmlStreamReader::EndElement:
            if (!stack.empty())
                stack.pop_back();
            break;
        case QXmlStreamReader::Characters:
            if (!stack.empty()) {
                XmlNode *n = stack.back();
                n->text += reader.text();
                if (n->children.empty() && !reader.isWhitespace())
                    n->contentBeforeFirstChild = true;
            }
            break;
        case QXmlStreamReader::Comment:
        case QXmlStreamReader::ProcessingInstruction:
            if (!stack.empty() && stack.back()->children.empty())
                stack.back()->contentBeforeFirstChild = true;
            break;
        default:
            break;
        }
        // Children were pushed into a vector; the pointers on the stack stay
        // valid because only the last child of each open element can grow.
    }
    if (reader.hasError())
        return fail(QStringLiteral("Réponse XML invalide : %1 (ligne %2)")
                        .arg(reader.errorString())
                        .arg(reader.lineNumber()));
    if (!haveRoot)
        return fail(QStringLiteral("Réponse XML vide"));
    *root = std::move(document.children.front());
    return true;
}

Message &Message::operator=(const Message &other)
{
    if (this == &other)
        return *this;
    envelope = other.envelope;
    isFault = other.isFault;
    faultCode = other.faultCode;
    faultString = other.faultString;
    faultDetail = other.faultDetail;
    fixPointers();
    return *this;
}

void Message::fixPointers()
{
    body = nullptr;
    operation = nullptr;
    for (const XmlNode &c : envelope.children)
        if (c.name == QLatin1String("Body") && c.ns == QLatin1String(kEnvelopeNamespace)) {
            body = &c;
            break;
        }
    if (body && !isFault && !body->children.empty())
        operation = &body->children.front();
}

const XmlNode *Message::returnNode() const
{
    if (!operation)
        return nullptr;
    if (const XmlNode *r = operation->child(QStringLiteral("return"), Qt::CaseInsensitive))
        return r;
    if (operation->children.size() == 1)
        return &operation->children.front();
    return nullptr;
}

const XmlNode *Message::parameter(const QString &name, Qt::CaseSensitivity cs) const
{
    return operation ? operation->child(name, cs) : nullptr;
}

namespace {
const XmlNode *findId(const XmlNode &node, const QString &id, int depth)
{
    if (depth > 64)
        return nullptr;
    for (const XmlAttribute &a : node.attributes)
        if (a.name == QLatin1String("id") && a.value == id)
            return &node;
    for (const XmlNode &c : node.children)
        if (const XmlNode *f = findId(c, id, depth + 1))
            return f;
    return nullptr;
}
} // namespace

const XmlNode *Message::resolve(const XmlNode *node) const
{
    // A chain of references is followed a few steps at most (no loops).
    for (int hop = 0; node && hop < 8; ++hop) {
        const QString href = node->attribute(QStringLiteral("href"));
        if (!href.startsWith(QLatin1Char('#')) || !body)
            return node;
        const XmlNode *target = findId(*body, href.mid(1), 0);
        if (!target || target == node)
            return nullptr;
        node = target;
    }
    return node;
}

QString Message::text(const XmlNode *node) const
{
    node = resolve(node);
    return node ? node->text : QString();
}

QStringList Message::stringArray(const XmlNode *node) const
{
    QStringList out;
    node = resolve(node);
    if (!node)
        return out;
    for (const XmlNode &item : node->children)
        out.append(text(&item));
    return out;
}

QString Message::attachmentRef(const XmlNode *node)
{
    if (!node)
        return {};
    const QString href = node->attribute(QStringLiteral("href"));
    if (href.startsWith(QLatin1String("cid:"), Qt::CaseInsensitive))
        return href.mid(4);
    return {};
}

bool readMessage(const QByteArray &xml, Message *message, QString *error, const ReadLimits &limits)
{
    Message m;
    if (!parseXml(xml, &m.envelope, error, limits))
        return false;
    auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (m.envelope.name != QLatin1String("Envelope") || m.envelope.ns != QLatin1String(kEnvelopeNamespace))
        return fail(QStringLiteral("Réponse SOAP invalide : pas d'enveloppe SOAP"));
    m.fixPointers();
    if (!m.body)
        return fail(QStringLiteral("Réponse SOAP invalide : pas de corps (Body)"));
    if (m.body->children.empty())
        return fail(QStringLiteral("Réponse SOAP invalide : corps vide"));
    const XmlNode &first = m.body->children.front();
    if (first.name == QLatin1String("Fault") && first.ns == QLatin1String(kEnvelopeNamespace)) {
        m.isFault = true;
        // faultcode, faultstring and detail are unqualified; be liberal about it.
        if (const XmlNode *c = first.child(QStringLiteral("faultcode"), Qt::CaseInsensitive))
            m.faultCode = c->text.trimmed();
        if (const XmlNode *c = first.child(QStringLiteral("faultstring"), Qt::CaseInsensitive))
            m.faultString = c->text;
        if (const XmlNode *c = first.child(QStringLiteral("detail"), Qt::CaseInsensitive))
            m.faultDetail = c->text.trimmed();
    }
    m.fixPointers();
    *message = m;
    return true;
}

} // namespace strandel::soap
