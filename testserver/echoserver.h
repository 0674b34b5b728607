#pragma once
// The loopback test server: the central server's SOAP interface over a
// folder of its own, with the same framing rules as the real server and
// switches to make any operation fail or answer badly.
//
// Folder layout below the root:
//   users/<FichierZip>/          archives, fragments, request files of a user
//   users/<FichierZip>/dictees/  dictation archives received, and their pieces
//   studies/<accession>/         what a request for that accession number
//                                receives (DICOMDIR and image folders; an
//                                optional naissance.txt holds the birth date)
//   updates/                     update archives (Strandel__NN.zip), served
//                                with the content type "zip"
//   tmp/                         attachments being received, nested zips

#include "transfer/core/soapwire.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>

#include <condition_variable>
#include <mutex>

namespace httplib {
struct Request;
struct Response;
class ContentReader;
} // namespace httplib

namespace testserver {

struct User
{
    QString fichierZip;
    QString usager;
    QString motDePasse;
};

// Parses "FICHIERZIP/USAGER/MOTDEPASSE".
bool parseUser(const QString &text, User *user);

class EchoServer
{
public:
    EchoServer(const QString &root, const QString &alias, const QList<User> &users);

    // Milliseconds between a request for a known study and its archive.
    void setPrepareMilliseconds(int ms) { m_prepareMs = ms; }

    // One HTTP request (called from the HTTP library's worker threads).
    void handle(const httplib::Request &req, httplib::Response &res, const httplib::ContentReader &reader);

    // A control text (see the usage in main.cpp); answers "OK" or an error.
    QString control(const QString &text);

private:
    struct Incoming
    {
        QString contentId;
        QString contentLocation;
        QString path;
    };
    struct Answer
    {
        QList<strandel::soap::Value> values; // return first
        QString attachmentFile;              // the return is this file
        QByteArray attachmentType = "application/binary";
        QString fault; // not empty: answer with this fault
    };
    struct Behaviour
    {
        QString mode; // see control()
        QString text;
        bool hasAnswer = false;
        QString answer;
        bool hasAcces = false;
        QString acces;
        int delayMs = 0;
    };
    enum class RequestState { Preparing, Done, RefusedErr, RefusedAck, Failed };
    struct Request
    {
        QString name;
        QString fichierZip;
        QString accession;
        QString birthDate;
        RequestState state = RequestState::Preparing;
        QDateTime readyAt;
        QString answerText;
    };

    Answer dispatch(const QString &op, const strandel::soap::Message &msg, const QList<Incoming> &incoming);
    QString param(const strandel::soap::Message &msg, const char *name) const;
    const User *userByFichierZip(const QString &name) const;
    const User *userByUsager(const QString &code) const;
    const User *userByPrefix(const QString &fileName) const;
    const User *checkCredentials(const QString &triple) const;
    QString userFolder(const User &u) const;
    QString dictationFolder(const User &u) const;
    QString findArchive(const QString &name, const User **owner) const;
    QStringList fragments(const QString &folder, const QString &archive) const;
    void registerRequest(const User &u, const QString &name, const QString &path);
    void advance();
    static QString requestBase(const QString &name);
    Behaviour behaviourFor(const QString &op);

    QString m_root;
    QString m_alias;
    QList<User> m_users;
    int m_prepareMs = 2000;
    std::mutex m_mutex;
    QHash<QString, Behaviour> m_behaviours; // by operation name, "*" for all
    QMap<QString, Request> m_requests;      // by request base name
    QHash<QString, QString> m_scripts;      // accession -> "ERR text" / "ACK text" / "OK2 text"

    // One call held before its answer until "release" (see control()).
    void holdIfAsked(const QString &op, const QString &name);
    std::mutex m_holdMutex;
    std::condition_variable m_holdChanged;
    QString m_holdOp, m_holdName;
    quint64 m_releases = 0;
};

} // namespace testserver
