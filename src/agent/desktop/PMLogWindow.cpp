#include "agent/desktop/PMLogWindow.h"

#include "agent/desktop/PMWindowFrames.h"

#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>

PMLogWindow::PMLogWindow(const QString &frameAutosaveName, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_frameAutosaveName(frameAutosaveName)
    , m_text(new QPlainTextEdit(this))
{
    m_text->setReadOnly(true);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_text->setLineWrapMode(QPlainTextEdit::NoWrap);
    // The log is plain text; undo history of a 3 MB document would only cost memory.
    m_text->setUndoRedoEnabled(false);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_text);
    setFocusProxy(m_text);
    resize(640, 420);
    restoreFrame();
}

PMLogWindow::~PMLogWindow() = default;

QString PMLogWindow::text() const
{
    return m_text->document()->toPlainText();
}

void PMLogWindow::setText(const QString &text)
{
    m_text->setPlainText(text);
    scrollToEnd();
}

void PMLogWindow::appendText(const QString &text)
{
    // A cursor of our own: the user's selection stays where it is.
    QTextCursor cursor(m_text->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
    scrollToEnd();
}

bool PMLogWindow::isVisible() const
{
    return QWidget::isVisible();
}

void PMLogWindow::show()
{
    QWidget::show();
    raise();
    activateWindow();
    m_text->setFocus();
}

void PMLogWindow::hide()
{
    QWidget::hide();
}

void PMLogWindow::setTitle(const QString &title)
{
    setWindowTitle(title);
}

void PMLogWindow::askToClear(std::function<void()> clear)
{
    if (m_clearQuestion) {
        m_clearQuestion->raise();
        return;
    }
    const bool sheet = isVisible();
    auto *question = new QMessageBox(QMessageBox::Question, tr("Clear Log"),
        tr("Are you sure you want to clear the log file?"), QMessageBox::Yes | QMessageBox::No, sheet ? this : nullptr);
    question->setDefaultButton(QMessageBox::Yes);
    question->setEscapeButton(QMessageBox::No);
    question->setAttribute(Qt::WA_DeleteOnClose);
    m_clearQuestion = question;
    QPointer<PMLogWindow> self(this);
    connect(question, &QMessageBox::finished, this, [self, question, clear = std::move(clear)](int) {
        const bool yes = question->standardButton(question->clickedButton()) == QMessageBox::Yes;
        if (self)
            self->m_clearQuestion = nullptr;
        if (yes && clear)
            clear();
    });
    if (sheet) {
        question->open(); // window modal: a sheet on the log window
    } else {
        // open() would make it modal to a parent it does not have, that is to nothing.
        question->setWindowModality(Qt::ApplicationModal);
        question->show();
    }
}

void PMLogWindow::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    if (m_frameRestored && QWidget::isVisible())
        saveFrame();
}

void PMLogWindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (m_frameRestored && QWidget::isVisible())
        saveFrame();
}

void PMLogWindow::hideEvent(QHideEvent *event)
{
    saveFrame();
    QWidget::hideEvent(event);
}

void PMLogWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_frameRestored = true;
    scrollToEnd();
}

void PMLogWindow::saveFrame() const
{
    PMWindowFrames::save(m_frameAutosaveName, saveGeometry());
}

void PMLogWindow::restoreFrame()
{
    const QByteArray frame = PMWindowFrames::load(m_frameAutosaveName);
    if (!frame.isEmpty())
        restoreGeometry(frame);
    // Not restored yet in the sense of the move and resize events: those of the first show
    // would otherwise save the default frame over nothing.
}

void PMLogWindow::scrollToEnd()
{
    QScrollBar *bar = m_text->verticalScrollBar();
    bar->setValue(bar->maximum());
}
