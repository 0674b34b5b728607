#pragma once

#include <QDate>
#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>

#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QStatusBar;
class QTextEdit;

namespace exchange {

// Confirmation before a transfer: name, volume, rate and estimated minutes.
class TFormAttente : public QDialog
{
    Q_OBJECT
public:
    explicit TFormAttente(QWidget *parent = nullptr);
    void fill(const QString &name, qint64 volume, const QString &rate, const QString &minutes);
    QLineEdit *nameField() const { return m_name; }
    QLineEdit *volumeField() const { return m_volume; }
    QLineEdit *rateField() const { return m_rate; }
    QLineEdit *minutesField() const { return m_minutes; }

private:
    QLineEdit *m_name, *m_volume, *m_rate, *m_minutes;
};

// "Il n'y a pas de fichier d'images disponible pour le moment": offers to check
// periodically, every 10 to 300 seconds.
class TFormVerification : public QDialog
{
    Q_OBJECT
public:
    explicit TFormVerification(QWidget *parent = nullptr);
    int period() const;
    QSpinBox *periodBox() const { return m_period; }

private:
    QSpinBox *m_period;
};

// Start of continuous periodic checking. "Non" ends with NoResult; any other
// way of closing (including the close box) starts the loop.
class TFormVerifContinue : public QDialog
{
    Q_OBJECT
public:
    static constexpr int NoResult = 2;
    explicit TFormVerifContinue(QWidget *parent = nullptr);
    int period() const;
    QSpinBox *periodBox() const { return m_period; }

private:
    QSpinBox *m_period;
};

// Periodic check window: a clock, a countdown, and a check every period
// seconds. Accepted once the check names an archive (found()); "Fermer" or
// closing the window rejects it.
class TFormAttente2 : public QDialog
{
    Q_OBJECT
public:
    TFormAttente2(int periodSeconds, std::function<QString()> check, QWidget *parent = nullptr);
    // Length of one "second" (tests shorten it).
    void setTickInterval(int ms) { m_timer.setInterval(ms); }
    QString found() const { return m_found; }
    int counter() const { return m_counter; }
    QString clockText() const;
    QString countText() const;
    int checks() const { return m_checks; }

protected:
    void showEvent(QShowEvent *event) override;
    void done(int r) override;

private:
    void tick();
    int m_period;
    int m_counter;
    int m_checks = 0;
    std::function<QString()> m_check;
    QString m_found;
    QTimer m_timer;
    QLabel *m_clock, *m_count;
};

// Progress of the fragments of one download.
class TFormDownLoad : public QDialog
{
    Q_OBJECT
public:
    explicit TFormDownLoad(QWidget *parent = nullptr);
    void setTitle(const QString &name);
    void setFragments(const QStringList &names);
    void select(int row);
    void tick(int row);
    bool ticked(int row) const;
    void resetCounter();
    void addBlock(qint64 bytes);
    QListWidget *list() const { return m_list; }
    QProgressBar *progress() const { return m_progress; }
    // The count of bytes received for the fragment ("  n/1000000").
    QString counterText() const;
    // Shows the count now (it is otherwise redrawn at most every 50 ms).
    void showCounter();

private:
    QLabel *m_title, *m_status, *m_counter;
    QListWidget *m_list;
    QProgressBar *m_progress;
    qint64 m_received = 0;
    QElapsedTimer m_shown;
};

// Progress of the pieces of one dictation upload.
class TFormUpload : public QDialog
{
    Q_OBJECT
public:
    explicit TFormUpload(QWidget *parent = nullptr);
    void setTitle(const QString &name);
    void clearPieces();
    void addPiece(const QString &line);
    void select(int row);
    void tick(int row);
    void showSent(qint64 sent, qint64 total);
    QListWidget *list() const { return m_list; }
    QProgressBar *progress() const { return m_progress; }
    QLabel *sentLabel() const { return m_sent; }

private:
    QLabel *m_title, *m_status, *m_sent;
    QListWidget *m_list;
    QProgressBar *m_progress;
};

// Whether news text may be laid out as rich text in a bounded time: not too
// long, not too many tags, elements not nested too deep (the layout of nested
// tables grows far faster than the text). Text that does not fit is shown as
// plain text, its tags visible.
bool NewsFitsRichText(const QString &text);

// Fills view with news text: as rich text when it looks like HTML and fits,
// otherwise as plain text.
void ShowNewsText(QTextEdit *view, const QString &text);

// News of the installed version, shown once.
class TFormNews : public QDialog
{
    Q_OBJECT
public:
    TFormNews(const QString &newsFile, QWidget *parent = nullptr);
    QCheckBox *dontShowAgain() const { return m_box; }
    QTextEdit *text() const { return m_text; }

protected:
    void done(int r) override;

private:
    QString m_file;
    QTextEdit *m_text;
    QCheckBox *m_box;
};

// Purge window: the candidates older than the comparison date, "Épurer" and
// "Fermer". The purge itself is given as functions.
class TFormEpuration : public QDialog
{
    Q_OBJECT
public:
    struct Actions
    {
        std::function<QStringList()> build;        // the candidate list
        std::function<void(const QStringList &, TFormEpuration &)> purge;
        std::function<void(const QString &)> information;
    };
    TFormEpuration(const QDate &comparison, Actions actions, QWidget *parent = nullptr);
    void rebuild();
    void purgeClicked();
    void setStatus(const QString &text);
    void tick(int row);
    QListWidget *list() const { return m_list; }
    QStatusBar *statusBar() const { return m_statusBar; }
    QPushButton *purgeButton() const { return m_purge; }
    QLineEdit *dateField() const { return m_date; }

private:
    Actions m_actions;
    QLineEdit *m_date;
    QListWidget *m_list;
    QStatusBar *m_statusBar;
    QPushButton *m_purge;
};

// Dictation upload window: the WAV files of the dictation folder, "Envoyer",
// "Relire", "Fermer". What the buttons do is given as functions.
class TFormUploadWav : public QDialog
{
    Q_OBJECT
public:
    explicit TFormUploadWav(QWidget *parent = nullptr);
    std::function<void()> onSend;
    std::function<void()> onReload;
    QListWidget *list() const { return m_list; }
    QListWidget *serverNames() const { return m_server; }
    QStatusBar *statusBar() const { return m_statusBar; }
    QProgressBar *progress() const { return m_progress; }
    QPushButton *sendButton() const { return m_send; }
    QPushButton *reloadButton() const { return m_reload; }

private:
    QListWidget *m_list, *m_server;
    QStatusBar *m_statusBar;
    QProgressBar *m_progress;
    QPushButton *m_send, *m_reload;
};

} // namespace exchange
