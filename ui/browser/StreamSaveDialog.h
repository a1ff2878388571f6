// 保存为视频文件: picks the variant, the format and the file of a captured
// stream, then saves it on a thread of its own with a progress bar and
// cancel.
#pragma once

#include "streams/CapturedStream.h"
#include "streams/StreamSaver.h"

#include <QDialog>

#include <atomic>
#include <memory>
#include <thread>

class QComboBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

class StreamSaveDialog : public QDialog {
    Q_OBJECT
public:
    // Keeps its own copy of `stream`; its captures must stay listed while the
    // dialog is open (it is modal, so nothing clears them).
    StreamSaveDialog(const CapturedStream& stream, int variant, QWidget* parent = nullptr);
    ~StreamSaveDialog() override;

    // The file a save wrote; empty until one succeeded.
    QString savedPath() const { return saved_; }
    bool saving() const { return saving_; }

    // Starts saving as the 保存 button does (tests).
    void save();

protected:
    void reject() override;

private:
    int variantIndex() const;
    VideoContainer container() const;
    void variantChanged();
    void formatChanged();
    void browse();
    void setSaving(bool saving);
    void finished(const SaveResult& result, const QString& path);

    CapturedStream stream_;
    QComboBox* variants_ = nullptr;
    QComboBox* formats_ = nullptr;
    QLineEdit* path_ = nullptr;
    QPushButton* browse_ = nullptr;
    QLabel* missing_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QDialogButtonBox* buttons_ = nullptr;
    QPushButton* saveButton_ = nullptr;
    std::thread worker_;
    std::atomic<bool> cancel_{false};
    // How far the worker has got, in thousandths; read by the progress bar's timer.
    std::shared_ptr<std::atomic<int>> permille_ = std::make_shared<std::atomic<int>>(0);
    bool saving_ = false;
    QString saved_;
};
