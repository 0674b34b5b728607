#include "transfer/exchange/exchangeforms.h"

#include <QCheckBox>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QStringDecoder>
#include <QTextEdit>
#include <QVBoxLayout>

#include "common/cp1252.h"
#include "common/regularfile.h"

#include <algorithm>

namespace exchange {

namespace {

QLineEdit *readOnlyField(QWidget *parent)
{
    auto *e = new QLineEdit(parent);
    e->setReadOnly(true);
    return e;
}

QSpinBox *periodSpin(QWidget *parent)
{
    auto *s = new QSpinBox(parent);
    s->setRange(10, 300);
    s->setSingleStep(10);
    s->setValue(60);
    return s;
}

QString twoDigits(int v)
{
    return QString::asprintf("%2.2d", v);
}

} // namespace

// ---------------------------------------------------------------- TFormAttente

TFormAttente::TFormAttente(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("FormAttente"));
    setWindowTitle(QStringLiteral("Téléchargement"));
    auto *grid = new QGridLayout(this);
    m_name = readOnlyField(this);
    m_volume = readOnlyField(this);
    m_rate = readOnlyField(this);
    m_minutes = readOnlyField(this);
    grid->addWidget(new QLabel(QStringLiteral("Nom du fichier à télécharger"), this), 0, 0);
    grid->addWidget(m_name, 0, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Volume du fichier "), this), 1, 0);
    grid->addWidget(m_volume, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("(octets)"), this), 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Temps requis moyen pour transférer "), this), 2, 0);
    grid->addWidget(m_rate, 2, 1);
    grid->addWidget(new QLabel(QStringLiteral("(minutes/Mg)"), this), 2, 2);
    grid->addWidget(new QLabel(QStringLiteral("Temps requis estimé "), this), 3, 0);
    grid->addWidget(m_minutes, 3, 1);
    grid->addWidget(new QLabel(QStringLiteral("(minutes)"), this), 3, 2);
    auto *question = new QLabel(QStringLiteral("Etes-vous prêt à télécharger ?"), this);
    QFont f = question->font();
    f.setBold(true);
    question->setFont(f);
    grid->addWidget(question, 4, 0, 1, 3, Qt::AlignCenter);
    auto *buttons = new QHBoxLayout;
    auto *start = new QPushButton(QStringLiteral("Commencer"), this);
    auto *cancel = new QPushButton(QStringLiteral("Annuler"), this);
    start->setDefault(true);
    buttons->addStretch();
    buttons->addWidget(start);
    buttons->addWidget(cancel);
    buttons->addStretch();
    grid->addLayout(buttons, 5, 0, 1, 3);
    connect(start, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TFormAttente::fill(const QString &name, qint64 volume, const QString &rate, const QString &minutes)
{
    m_name->setText(name);
    m_volume->setText(QString::number(volume));
    m_rate->setText(rate);
    m_minutes->setText(minutes);
}

// ------------------------------------------------ TFormVerification / Continue

TFormVerification::TFormVerification(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("FormVerification"));
    setWindowTitle(QStringLiteral("Vérification périodique"));
    auto *v = new QVBoxLayout(this);
    v->addWidget(new QLabel(QStringLiteral("Il n'y a pas de fichier d'images disponible pour le moment."), this));
    v->addWidget(new QLabel(QStringLiteral("Désirez-vous que je vérifie périodiquement pour vous ?"), this));
    auto *row = new QHBoxLayout;
    m_period = periodSpin(this);
    row->addWidget(new QLabel(QStringLiteral("à toutes les "), this));
    row->addWidget(m_period);
    row->addWidget(new QLabel(QStringLiteral("secondes"), this));
    row->addStretch();
    v->addLayout(row);
    auto *buttons = new QHBoxLayout;
    auto *yes = new QPushButton(QStringLiteral("Oui"), this);
    auto *no = new QPushButton(QStringLiteral("Non"), this);
    yes->setDefault(true);
    buttons->addStretch();
    buttons->addWidget(yes);
    buttons->addWidget(no);
    buttons->addStretch();
    v->addLayout(buttons);
    yes->setFocus();
    connect(yes, &QPushButton::clicked, this, &QDialog::accept);
    connect(no, &QPushButton::clicked, this, &QDialog::reject);
}

int TFormVerification::period() const
{
    return m_period->value();
}

TFormVerifContinue::TFormVerifContinue(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("FormVerifContinue"));
    setWindowTitle(QStringLiteral("Verification périodique continue"));
    auto *v = new QVBoxLayout(this);
    v->addWidget(new QLabel(QStringLiteral("Lancement de la vérification périodique continue"), this));
    auto *row = new QHBoxLayout;
    m_period = periodSpin(this);
    row->addWidget(new QLabel(QStringLiteral("à toutes les "), this));
    row->addWidget(m_period);
    row->addWidget(new QLabel(QStringLiteral("secondes"), this));
    row->addStretch();
    v->addLayout(row);
    auto *buttons = new QHBoxLayout;
    auto *yes = new QPushButton(QStringLiteral("Oui"), this);
    auto *no = new QPushButton(QStringLiteral("Non"), this);
    yes->setDefault(true);
    buttons->addStretch();
    buttons->addWidget(yes);
    buttons->addWidget(no);
    buttons->addStretch();
    v->addLayout(buttons);
    yes->setFocus();
    connect(yes, &QPushButton::clicked, this, &QDialog::accept);
    connect(no, &QPushButton::clicked, this, [this] { done(NoResult); });
}

int TFormVerifContinue::period() const
{
    return m_period->value();
}

// --------------------------------------------------------------- TFormAttente2

TFormAttente2::TFormAttente2(int periodSeconds, std::function<QString()> check, QWidget *parent)
    : QDialog(parent), m_period(periodSeconds <= 0 ? 10 : periodSeconds), m_counter(m_period - 1),
      m_check(std::move(check))
{
    setObjectName(QStringLiteral("FormAttente2"));
    setWindowTitle(QStringLiteral("Vérification périodique"));
    auto *grid = new QGridLayout(this);
    m_clock = new QLabel(QStringLiteral("00:00:00"), this);
    m_count = new QLabel(QString(), this);
    grid->addWidget(new QLabel(QStringLiteral("Temps écoulé :"), this), 0, 0);
    grid->addWidget(m_clock, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Prochaine vérification : "), this), 1, 0);
    grid->addWidget(m_count, 1, 1);
    auto *close = new QPushButton(QStringLiteral("Fermer"), this);
    grid->addWidget(close, 2, 0, 1, 2, Qt::AlignCenter);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    m_timer.setInterval(1000);
    connect(&m_timer, &QTimer::timeout, this, &TFormAttente2::tick);
}

void TFormAttente2::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!m_timer.isActive() && m_found.isEmpty())
        m_timer.start();
}

void TFormAttente2::done(int r)
{
    m_timer.stop();
    QDialog::done(r);
}

QString TFormAttente2::clockText() const
{
    return m_clock->text();
}

QString TFormAttente2::countText() const
{
    return m_count->text();
}

void TFormAttente2::tick()
{
    ++m_counter;
    m_clock->setText(twoDigits(m_counter / 3600) + QLatin1Char(':') + twoDigits(m_counter / 60 % 60)
                     + QLatin1Char(':') + twoDigits(m_counter % 60));
    m_count->setText(QString::number(m_period - m_counter % m_period));
    if (m_counter % m_period != 0)
        return;
    m_timer.stop();
    ++m_checks;
    const QString name = m_check ? m_check() : QString();
    if (!isVisible())
        return; // closed while the server was being asked
    if (!name.isEmpty()) {
        m_found = name;
        accept();
        return;
    }
    m_timer.start();
}

// --------------------------------------------------------------- TFormDownLoad

TFormDownLoad::TFormDownLoad(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("FormDownLoad"));
    setWindowTitle(QStringLiteral("Téléchargement"));
    auto *v = new QVBoxLayout(this);
    m_title = new QLabel(this);
    QFont f = m_title->font();
    f.setBold(true);
    m_title->setFont(f);
    m_list = new QListWidget(this);
    m_progress = new QProgressBar(this);
    m_progress->setRange(0, 1000000);
    m_progress->setValue(0);
    m_counter = new QLabel(this);
    m_status = new QLabel(QStringLiteral("  Fragmentation en paquets de 1000000 d'octets"), this);
    v->addWidget(m_title);
    v->addWidget(m_list);
    v->addWidget(m_progress);
    v->addWidget(m_counter);
    v->addWidget(m_status);
    resize(420, 300);
}

void TFormDownLoad::setTitle(const QString &name)
{
    m_title->setText(name);
}

void TFormDownLoad::setFragments(const QStringList &names)
{
    m_list->clear();
    for (const QString &n : names) {
        auto *item = new QListWidgetItem(n, m_list);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
    if (!names.isEmpty())
        m_list->setCurrentRow(0);
}

void TFormDownLoad::select(int row)
{
    m_list->setCurrentRow(row);
}

void TFormDownLoad::tick(int row)
{
    if (QListWidgetItem *item = m_list->item(row))
        item->setCheckState(Qt::Checked);
}

bool TFormDownLoad::ticked(int row) const
{
    const QListWidgetItem *item = m_list->item(row);
    return item && item->checkState() == Qt::Checked;
}

void TFormDownLoad::resetCounter()
{
    m_received = 0;
    m_shown.invalidate();
    m_progress->setValue(0);
    m_counter->setText(QStringLiteral("  0/1000000"));
}

void TFormDownLoad::addBlock(qint64 bytes)
{
    // Every block is counted; the window is redrawn at most every 50 ms, as
    // a block comes every 2048 bytes and each redraw costs far more than that.
    m_received += bytes;
    if (m_shown.isValid() && m_shown.elapsed() < 50 && m_received < m_progress->maximum())
        return;
    m_shown.start();
    showCounter();
}

void TFormDownLoad::showCounter()
{
    m_progress->setValue(int(qMin<qint64>(m_received, m_progress->maximum())));
    m_counter->setText(QStringLiteral("  %1/%2").arg(m_received).arg(m_progress->maximum()));
}

QString TFormDownLoad::counterText() const
{
    return QStringLiteral("  %1/%2").arg(m_received).arg(m_progress->maximum());
}

// ----------------------------------------------------------------- TFormUpload

TFormUpload::TFormUpload(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("FormUpload"));
    setWindowTitle(QStringLiteral("Téléchargement"));
    auto *v = new QVBoxLayout(this);
    m_title = new QLabel(this);
    QFont f = m_title->font();
    f.setBold(true);
    m_title->setFont(f);
    m_list = new QListWidget(this);
    m_progress = new QProgressBar(this);
    m_progress->setRange(0, 1000000);
    m_progress->setValue(0);
    m_sent = new QLabel(this);
    m_status = new QLabel(QStringLiteral("  Fragmentation en paquets de 1000000 d'octets"), this);
    v->addWidget(m_title);
    v->addWidget(m_list);
    v->addWidget(m_progress);
    v->addWidget(m_sent);
    v->addWidget(m_status);
    resize(520, 300);
}

void TFormUpload::setTitle(const QString &name)
{
    m_title->setText(name);
}

void TFormUpload::clearPieces()
{
    m_list->clear();
}

void TFormUpload::addPiece(const QString &line)
{
    auto *item = new QListWidgetItem(line, m_list);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Unchecked);
}

void TFormUpload::select(int row)
{
    m_list->setCurrentRow(row);
}

void TFormUpload::tick(int row)
{
    if (QListWidgetItem *item = m_list->item(row))
        item->setCheckState(Qt::Checked);
}

void TFormUpload::showSent(qint64 sent, qint64 total)
{
    m_sent->setText(QStringLiteral("%1/%2 octets").arg(sent).arg(total));
    m_progress->setValue(int(qMin<qint64>(sent, m_progress->maximum())));
}

// ------------------------------------------------------------------- TFormNews

namespace {

// News are a page or two. The rich text layout lays a table's cells out more
// than once to size its columns, so what a table holds costs about twice as
// much per level of tables around it: 250,000 nested tables never end, 16
// take seconds. Each tag and each 16 characters of text cost 2^(tables around
// them); past the budget (about a second of layout on a slow machine) the
// news are shown as plain text.
constexpr qsizetype NewsRichTextMaxChars = 64 * 1024;
constexpr qint64 NewsRichTextMaxCost = 16000;
constexpr int NewsRichTextMaxDepth = 24;
// Plain text is laid out a paragraph at a time, and one paragraph of many
// thousand characters takes seconds: longer lines are shown broken in pieces.
constexpr qsizetype NewsPlainTextMaxLine = 1024;

bool isTagNameChar(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('-') || c == QLatin1Char(':') || c == QLatin1Char('_');
}

// Elements that never hold others, and those whose end tag may be left out
// (closed by the next of their kind or by their container): neither kind
// makes the layout deeper on its own.
bool neverNests(const QString &name)
{
    static const QStringList names = {
        QStringLiteral("area"),   QStringLiteral("base"),     QStringLiteral("br"),    QStringLiteral("col"),
        QStringLiteral("embed"),  QStringLiteral("hr"),       QStringLiteral("img"),   QStringLiteral("input"),
        QStringLiteral("link"),   QStringLiteral("meta"),     QStringLiteral("param"), QStringLiteral("source"),
        QStringLiteral("track"),  QStringLiteral("wbr"),      QStringLiteral("p"),     QStringLiteral("li"),
        QStringLiteral("dt"),     QStringLiteral("dd"),       QStringLiteral("tr"),    QStringLiteral("td"),
        QStringLiteral("th"),     QStringLiteral("thead"),    QStringLiteral("tbody"), QStringLiteral("tfoot"),
        QStringLiteral("option"), QStringLiteral("colgroup"), QStringLiteral("html"),  QStringLiteral("head"),
        QStringLiteral("body"),   QStringLiteral("!doctype")};
    return names.contains(name);
}

QString withShortLines(const QString &text)
{
    QString out;
    out.reserve(text.size() + text.size() / NewsPlainTextMaxLine + 1);
    qsizetype run = 0;
    for (const QChar c : text) {
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r')) {
            run = 0;
        } else if (run == NewsPlainTextMaxLine) {
            out += QLatin1Char('\n');
            run = 0;
        }
        out += c;
        if (c != QLatin1Char('\n') && c != QLatin1Char('\r'))
            ++run;
    }
    return out;
}

} // namespace

bool NewsFitsRichText(const QString &text)
{
    if (text.size() > NewsRichTextMaxChars)
        return false;
    // A tag scanner, not a parser: it only has to see how many elements there
    // are and how deep they go. Unclosed elements stay open to the end, as
    // the layout sees them.
    QStringList open;
    int tables = 0;
    qint64 cost = 0;
    qsizetype textFrom = 0;
    auto addText = [&](qsizetype to) {
        if (to > textFrom)
            cost += (qint64(to - textFrom) << tables) / 16;
    };
    const qsizetype n = text.size();
    for (qsizetype i = text.indexOf(QLatin1Char('<')); i >= 0 && i < n; i = text.indexOf(QLatin1Char('<'), i)) {
        if (text.mid(i, 4) == QLatin1String("<!--")) {
            const qsizetype end = text.indexOf(QLatin1String("-->"), i + 4);
            if (end < 0)
                break;
            i = end + 3;
            continue;
        }
        qsizetype j = i + 1;
        const bool closing = j < n && text.at(j) == QLatin1Char('/');
        if (closing)
            ++j;
        const qsizetype nameStart = j;
        if (j < n && text.at(j) == QLatin1Char('!'))
            ++j;
        while (j < n && isTagNameChar(text.at(j)))
            ++j;
        const QString name = text.mid(nameStart, j - nameStart).toLower();
        if (name.isEmpty() || name == QLatin1String("!")) {
            i = nameStart; // a lone "<" in the text
            continue;
        }
        addText(i);
        // The end of the tag. A ">" inside a quoted value ends it early: what
        // follows is then scanned as text, which can only count more tags.
        while (j < n && text.at(j) != QLatin1Char('>'))
            ++j;
        const bool selfClosing = j < n && text.at(j - 1) == QLatin1Char('/');
        i = j;
        textFrom = j + 1;
        cost += qint64(1) << tables;
        if (cost > NewsRichTextMaxCost)
            return false;
        if (closing) {
            const qsizetype at = open.lastIndexOf(name);
            if (at >= 0) {
                tables -= int(std::count(open.cbegin() + at, open.cend(), QStringLiteral("table")));
                open.resize(at);
            }
        } else if (!selfClosing && !neverNests(name)) {
            open << name;
            if (name == QLatin1String("table"))
                ++tables;
            if (open.size() > NewsRichTextMaxDepth)
                return false;
        }
    }
    addText(n);
    return cost <= NewsRichTextMaxCost;
}

void ShowNewsText(QTextEdit *view, const QString &text)
{
    if (text.trimmed().startsWith(QLatin1String("{\\rtf")) || !Qt::mightBeRichText(text) || !NewsFitsRichText(text))
        view->setPlainText(withShortLines(text));
    else
        view->setHtml(text);
}

TFormNews::TFormNews(const QString &newsFile, QWidget *parent) : QDialog(parent), m_file(newsFile)
{
    setObjectName(QStringLiteral("FormNews"));
    setWindowTitle(QStringLiteral("Nouvelle version de Strandel"));
    auto *v = new QVBoxLayout(this);
    m_text = new QTextEdit(this);
    m_text->setReadOnly(true);
    QFile f;
    // Only a regular file, opened without waiting (a FIFO would hold the start for good).
    if (common::OpenRegularFile(f, newsFile, QIODevice::ReadOnly)) {
        // Windows-1252 as the server's tools write it; a file that is valid
        // UTF-8 is read as such (Windows-1252 accents never form valid UTF-8).
        const QByteArray bytes = f.read(4 * 1024 * 1024);
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString text = utf8(bytes);
        if (utf8.hasError())
            text = common::fromCp1252(bytes);
        ShowNewsText(m_text, text);
    }
    m_box = new QCheckBox(QStringLiteral("Ne plus afficher cette information"), this);
    m_box->setChecked(true);
    auto *close = new QPushButton(QStringLiteral("Fermer"), this);
    close->setDefault(true);
    v->addWidget(m_text);
    auto *row = new QHBoxLayout;
    row->addWidget(m_box);
    row->addStretch();
    row->addWidget(close);
    v->addLayout(row);
    close->setFocus();
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    resize(520, 380);
}

void TFormNews::done(int r)
{
    if (m_box->isChecked() && QFile::exists(m_file))
        QFile::remove(m_file);
    QDialog::done(r);
}

// -------------------------------------------------------------- TFormEpuration

TFormEpuration::TFormEpuration(const QDate &comparison, Actions actions, QWidget *parent)
    : QDialog(parent), m_actions(std::move(actions))
{
    setObjectName(QStringLiteral("FormEpuration"));
    setWindowTitle(QStringLiteral("Épuration"));
    auto *v = new QVBoxLayout(this);
    auto *row = new QHBoxLayout;
    m_date = readOnlyField(this);
    m_date->setText(comparison.toString(QStringLiteral("yyyy-MM-dd")));
    row->addWidget(new QLabel(QStringLiteral("Date de comparaison"), this));
    row->addWidget(m_date);
    row->addStretch();
    v->addLayout(row);
    auto *label = new QLabel(
        QStringLiteral("Liste des répertoires d'images ayant une date de création antérieure à la date de comparaison"),
        this);
    label->setWordWrap(true);
    v->addWidget(label);
    m_list = new QListWidget(this);
    v->addWidget(m_list);
    auto *buttons = new QHBoxLayout;
    m_purge = new QPushButton(QStringLiteral("Épurer"), this);
    m_purge->setDefault(true);
    auto *close = new QPushButton(QStringLiteral("Fermer"), this);
    buttons->addStretch();
    buttons->addWidget(m_purge);
    buttons->addWidget(close);
    v->addLayout(buttons);
    m_statusBar = new QStatusBar(this);
    m_statusBar->setSizeGripEnabled(false);
    v->addWidget(m_statusBar);
    connect(m_purge, &QPushButton::clicked, this, &TFormEpuration::purgeClicked);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    resize(480, 360);
    rebuild();
}

void TFormEpuration::rebuild()
{
    m_list->clear();
    const QStringList names = m_actions.build ? m_actions.build() : QStringList();
    for (const QString &n : names) {
        auto *item = new QListWidgetItem(n, m_list);
        item->setFlags(Qt::ItemIsEnabled); // check marks shown, not editable
        item->setCheckState(Qt::Unchecked);
    }
}

void TFormEpuration::purgeClicked()
{
    if (m_list->count() == 0) {
        if (m_actions.information)
            m_actions.information(QStringLiteral("Aucun fichier à épurer."));
        return;
    }
    QStringList names;
    for (int i = 0; i < m_list->count(); ++i)
        names << m_list->item(i)->text();
    if (m_actions.purge)
        m_actions.purge(names, *this);
    rebuild();
    if (m_actions.information)
        m_actions.information(QStringLiteral("Épuration terminée."));
}

void TFormEpuration::setStatus(const QString &text)
{
    m_statusBar->showMessage(text);
}

void TFormEpuration::tick(int row)
{
    if (QListWidgetItem *item = m_list->item(row))
        item->setCheckState(Qt::Checked);
}

// -------------------------------------------------------------- TFormUploadWav

TFormUploadWav::TFormUploadWav(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("FormUploadWav"));
    setWindowTitle(QStringLiteral("Télécharger les dictées en amont"));
    auto *v = new QVBoxLayout(this);
    auto *header = new QLabel(QStringLiteral("Date       Heure         Volume Nom"), this);
    QFont mono(QStringLiteral("Liberation Mono"));
    mono.setStyleHint(QFont::Monospace);
    header->setFont(mono);
    m_list = new QListWidget(this);
    m_list->setFont(mono);
    m_list->setSelectionMode(QAbstractItemView::MultiSelection);
    m_server = new QListWidget(this);
    m_server->hide();
    m_progress = new QProgressBar(this);
    m_progress->setValue(0);
    auto *buttons = new QHBoxLayout;
    m_send = new QPushButton(QStringLiteral("Envoyer"), this);
    m_send->setDefault(true);
    m_reload = new QPushButton(QStringLiteral("Relire"), this);
    auto *close = new QPushButton(QStringLiteral("Fermer"), this);
    buttons->addStretch();
    buttons->addWidget(m_send);
    buttons->addWidget(m_reload);
    buttons->addWidget(close);
    m_statusBar = new QStatusBar(this);
    m_statusBar->setSizeGripEnabled(false);
    v->addWidget(header);
    v->addWidget(m_list);
    v->addWidget(m_progress);
    v->addLayout(buttons);
    v->addWidget(m_statusBar);
    connect(m_send, &QPushButton::clicked, this, [this] {
        if (onSend)
            onSend();
    });
    connect(m_reload, &QPushButton::clicked, this, [this] {
        if (onReload)
            onReload();
    });
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    resize(760, 380);
}

} // namespace exchange
