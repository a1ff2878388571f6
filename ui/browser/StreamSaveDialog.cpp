#include "ui/browser/StreamSaveDialog.h"

#include "resources/StringTable.h"
#include "ui/browser/ExportDialogs.h"
#include "ui/browser/ResourceListAdaptor.h"
#include "ui/browser/StreamRows.h"
#include "ui/shell/MessageBoxes.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QString text(unsigned id) {
    return QString::fromUtf8(loadString(id));
}

constexpr VideoContainer kFormats[] = {VideoContainer::Mp4, VideoContainer::MpegTs,
                                       VideoContainer::Matroska};

} // namespace

StreamSaveDialog::StreamSaveDialog(const CapturedStream& stream, int variant, QWidget* parent)
    : QDialog(parent), stream_(stream) {
    setWindowTitle(text(IDS_STREAM_SAVE));
    setModal(true);
    const QStringList labels = text(IDS_STREAM_VARIANT_LABEL).split(QLatin1Char('\n'));
    auto label = [&](int i) { return i < labels.size() ? labels[i] : QString(); };

    auto* title = new QLabel(QString::fromStdString(stream_.title), this);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    title->setTextFormat(Qt::PlainText);
    title->setWordWrap(true);

    variants_ = new QComboBox(this);
    for (int i = 0; i < int(stream_.variants.size()); ++i) {
        const std::vector<std::string> cells = StreamRows::variantCells(stream_, i);
        const int status = resourceColumnOfKind(StatusColumn);
        variants_->addItem(
            QString::fromStdString(cells[std::size_t(resourceColumnOfKind(NameColumn))] + "  (" +
                                   cells[std::size_t(status)] + ")"));
    }
    variants_->setCurrentIndex(variant >= 0 && variant < variants_->count() ? variant : 0);

    formats_ = new QComboBox(this);
    const QStringList filters = text(IDS_STREAM_SAVE_FILTER).split(QStringLiteral(";;"));
    for (int i = 0; i < int(std::size(kFormats)); ++i)
        formats_->addItem(i < filters.size() ? filters[i]
                                             : QString(containerExtension(kFormats[i])));

    path_ = new QLineEdit(this);
    path_->setMinimumWidth(420);
    browse_ = new QPushButton(text(IDS_STREAM_BROWSE), this);
    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(path_, 1);
    pathRow->addWidget(browse_);

    missing_ = new QLabel(this);
    missing_->setWordWrap(true);
    missing_->setTextFormat(Qt::PlainText);
    QPalette warning = missing_->palette();
    warning.setColor(QPalette::WindowText, QColor(0xb2, 0x4a, 0x00));
    missing_->setPalette(warning);

    progress_ = new QProgressBar(this);
    progress_->setRange(0, 1000);
    progress_->setTextVisible(true);
    progress_->setVisible(false);

    buttons_ = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    saveButton_ = buttons_->addButton(text(IDS_STREAM_SAVE_BUTTON), QDialogButtonBox::AcceptRole);
    saveButton_->setDefault(true);

    auto* form = new QFormLayout;
    form->addRow(label(0), variants_);
    form->addRow(label(1), formats_);
    form->addRow(label(2), pathRow);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(title);
    layout->addLayout(form);
    layout->addWidget(missing_);
    layout->addWidget(progress_);
    layout->addWidget(buttons_);

    const QString name = QString::fromStdString(
        suggestedVideoName(stream_, variantIndex(), containerExtension(VideoContainer::Mp4)));
    path_->setText(QDir(ExportDialogs::lastFolder()).filePath(name));
    connect(variants_, &QComboBox::currentIndexChanged, this, &StreamSaveDialog::variantChanged);
    connect(formats_, &QComboBox::currentIndexChanged, this, &StreamSaveDialog::formatChanged);
    connect(browse_, &QPushButton::clicked, this, &StreamSaveDialog::browse);
    connect(buttons_, &QDialogButtonBox::accepted, this, &StreamSaveDialog::save);
    connect(buttons_, &QDialogButtonBox::rejected, this, &StreamSaveDialog::reject);
    variantChanged();
}

StreamSaveDialog::~StreamSaveDialog() {
    cancel_ = true;
    if (worker_.joinable())
        worker_.join();
}

int StreamSaveDialog::variantIndex() const {
    return variants_->currentIndex();
}

VideoContainer StreamSaveDialog::container() const {
    const int i = formats_->currentIndex();
    return i >= 0 && i < int(std::size(kFormats)) ? kFormats[i] : VideoContainer::Mp4;
}

void StreamSaveDialog::variantChanged() {
    const int v = variantIndex();
    if (v < 0)
        return;
    const StreamVariant& variant = stream_.variants[std::size_t(v)];
    const std::string missing = describeMissing(variant, missingRuns(variant));
    missing_->setText(missing.empty() ? QString()
                                      : QString::fromStdString(missing) + QLatin1Char(' ') +
                                            text(IDS_STREAM_GAP_NOTE));
    missing_->setVisible(!missing.empty());
    // The suggested name follows the variant's resolution unless the user
    // typed another.
    QFileInfo current(path_->text());
    const QString extension = QString(containerExtension(container()));
    for (int i = 0; i < int(stream_.variants.size()); ++i) {
        if (current.fileName() ==
            QString::fromStdString(suggestedVideoName(stream_, i, extension.toStdString()))) {
            path_->setText(current.dir().filePath(
                QString::fromStdString(suggestedVideoName(stream_, v, extension.toStdString()))));
            break;
        }
    }
    adjustSize();
}

void StreamSaveDialog::formatChanged() {
    QString path = path_->text();
    const QFileInfo info(path);
    const QString suffix = info.suffix().toLower();
    if (suffix == QLatin1String("mp4") || suffix == QLatin1String("ts") ||
        suffix == QLatin1String("mkv"))
        path.chop(suffix.size() + 1);
    path_->setText(path + QLatin1String(containerExtension(container())));
}

void StreamSaveDialog::browse() {
    ExportDialogs dialogs(this);
    std::string chosen;
    if (!dialogs.chooseSaveFile(QFile::encodeName(path_->text()).toStdString(), chosen))
        return;
    const QString path = QFile::decodeName(QByteArray::fromStdString(chosen));
    path_->setText(path);
    // A chosen extension picks the format.
    const VideoContainer picked = containerForPath(chosen);
    for (int i = 0; i < int(std::size(kFormats)); ++i)
        if (kFormats[i] == picked && QFileInfo(path).suffix().size() > 0) {
            const QSignalBlocker quiet(formats_);
            formats_->setCurrentIndex(i);
        }
}

void StreamSaveDialog::setSaving(bool saving) {
    saving_ = saving;
    variants_->setEnabled(!saving);
    formats_->setEnabled(!saving);
    path_->setEnabled(!saving);
    browse_->setEnabled(!saving);
    saveButton_->setEnabled(!saving);
    progress_->setVisible(saving);
    progress_->setValue(0);
}

void StreamSaveDialog::save() {
    if (saving_)
        return;
    const QString path = path_->text().trimmed();
    if (path.isEmpty())
        return;
    if (QFileInfo::exists(path) &&
        showMessageBox(this, QMessageBox::Question,
                       QString::asprintf(loadString(IDS_STREAM_REPLACE),
                                         QFileInfo(path).fileName().toUtf8().constData()),
                       QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
        return;
    if (worker_.joinable())
        worker_.join();
    setSaving(true);
    cancel_ = false;
    permille_->store(0);
    const StreamVariant variant = stream_.variants[std::size_t(variantIndex())];
    SaveOptions options;
    options.container = container();
    options.cancel = &cancel_;
    options.progress = [permille = permille_](std::int64_t done, std::int64_t total) {
        permille->store(total > 0 ? int(std::min<std::int64_t>(1000, done * 1000 / total)) : 0);
    };
    auto* timer = new QTimer(this);
    timer->setInterval(100);
    connect(timer, &QTimer::timeout, this, [this] { progress_->setValue(permille_->load()); });
    timer->start();
    QPointer<StreamSaveDialog> self(this);
    const std::string target = QFile::encodeName(path).toStdString();
    worker_ = std::thread([self, timer, variant, options, target, path] {
        const SaveResult result = saveStream(variant, target, options);
        // The dialog waits for this thread before it goes, so it is there
        // to take the answer.
        QMetaObject::invokeMethod(
            self.data(),
            [self, timer, result, path] {
                timer->deleteLater();
                if (self)
                    self->finished(result, path);
            },
            Qt::QueuedConnection);
    });
}

void StreamSaveDialog::finished(const SaveResult& result, const QString& path) {
    if (worker_.joinable())
        worker_.join();
    setSaving(false);
    if (result.cancelled)
        return;
    const QByteArray name = path.toUtf8();
    if (!result.saved) {
        showMessageBox(this, QMessageBox::Warning, QString::fromStdString(result.error));
        return;
    }
    saved_ = path;
    const StreamVariant& variant = stream_.variants[std::size_t(variantIndex())];
    const std::string missing = describeMissing(variant, result.missing);
    if (missing.empty())
        showMessageBox(this, QMessageBox::Information,
                       QString::asprintf(loadString(IDS_STREAM_SAVED), name.constData()));
    else
        showMessageBox(this, QMessageBox::Warning,
                       QString::asprintf(loadString(IDS_STREAM_SAVED_WITH_GAPS), name.constData(),
                                         missing.c_str()));
    accept();
}

void StreamSaveDialog::reject() {
    // Cancel stops a save in progress first; the dialog stays until it has.
    if (saving_) {
        cancel_ = true;
        return;
    }
    QDialog::reject();
}
