#include "ui/shell/ToolkitTexts.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

// The program's windows are Chinese; the toolkit's own dialogs and buttons must not be
// the one English part of them.
class ToolkitTextsTest : public QObject {
    Q_OBJECT
private slots:
    void dialogsSpeakTheProgramsLanguage() {
        QDialogButtonBox before(QDialogButtonBox::Cancel);
        const QString english = before.button(QDialogButtonBox::Cancel)->text();

        // Installed by scripts/setup (qt6-translations-l10n); a missing file is a setup gap.
        QVERIFY2(QFileInfo::exists(toolkitTextsFile()), qPrintable(toolkitTextsFile()));
        QVERIFY(installToolkitTexts(*QCoreApplication::instance(), Language::Chinese));
        QDialogButtonBox after(QDialogButtonBox::Cancel);
        QVERIFY(after.button(QDialogButtonBox::Cancel)->text() != english);

        QFileDialog dialog;
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setFileMode(QFileDialog::Directory);
        QStringList labels;
        for (const QLabel* label : dialog.findChildren<QLabel*>())
            labels << label->text();
        QVERIFY2(!labels.contains(QStringLiteral("Look in:")), qPrintable(labels.join('|')));
    }
};

QTEST_MAIN(ToolkitTextsTest)
#include "toolkit_texts_test.moc"
