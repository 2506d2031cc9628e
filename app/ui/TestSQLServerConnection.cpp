#include "app/ui/TestSQLServerConnection.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <chrono>
#include <system_error>

TestDbmsConnection::TestDbmsConnection(QWidget* parent, const std::wstring& server,
                                       const std::wstring& port, bool useDbmsAuthentication,
                                       const std::wstring& userName, const std::wstring& password)
    : QDialog(parent),
      m_close(new QPushButton(tr("Close"), this)),
      m_startTest(new QPushButton(tr("Start Test"), this)),
      m_resultList(new QListWidget(this)),
      m_detailsButton(new QPushButton(tr("&Details"), this)),
      m_details(new QPlainTextEdit(this)),
      m_clientLibraryFolder(ClientLibraryFolder()) {
    setWindowTitle(tr("Test Connection"));
    m_startTest->setObjectName(QStringLiteral("startTestButton"));
    m_close->setObjectName(QStringLiteral("closeButton"));
    m_resultList->setObjectName(QStringLiteral("resultList"));
    m_resultList->setAccessibleName(tr("Test results"));
    m_resultList->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_resultList->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_detailsButton->setObjectName(QStringLiteral("detailsButton"));
    m_detailsButton->setCheckable(true);
    m_details->setObjectName(QStringLiteral("detailsView"));
    m_details->setAccessibleName(tr("Connection details"));
    m_details->setReadOnly(true);
    m_details->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_details->hide();
    m_startTest->setDefault(true);
    m_close->setAutoDefault(false);
    m_detailsButton->setAutoDefault(false);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_startTest);
    buttons->addStretch(1);
    buttons->addWidget(m_detailsButton);
    buttons->addStretch(1);
    buttons->addWidget(m_close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_resultList, 3);
    layout->addWidget(m_details, 2);
    layout->addLayout(buttons);
    resize(580, 420);

    connect(m_startTest, &QPushButton::clicked, this, &TestDbmsConnection::OnStartTest);
    connect(m_close, &QPushButton::clicked, this, &TestDbmsConnection::reject);
    connect(m_detailsButton, &QPushButton::toggled, m_details, &QWidget::setVisible);

    m_settings.server = server;
    m_settings.port = port;
    m_settings.useWindowsAuthentication = useDbmsAuthentication ? 0 : 1;
    if (useDbmsAuthentication) {
        m_settings.userName = userName;
        m_settings.password = password;
    }
}

TestDbmsConnection::~TestDbmsConnection() {
    m_abandoned = true;
    // The worker may be waiting for this thread to add a line: dropping its pending
    // call releases it, and it posts nothing more once it sees the dialog going.
    while (!m_workerDone) {
        QCoreApplication::removePostedEvents(this, QEvent::MetaCall);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    JoinWorker();
}

void TestDbmsConnection::JoinWorker() {
    if (m_worker.joinable()) m_worker.join();
}

void TestDbmsConnection::reject() {
    if (m_testRunning) return;
    QDialog::reject();
}

void TestDbmsConnection::closeEvent(QCloseEvent* event) {
    if (m_testRunning) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TestDbmsConnection::OnStartTest() {
    if (m_testRunning) return;
    EnableButtons(false);
    m_resultList->clear();
    m_details->clear();
    JoinWorker();  // the last run's worker has handed over its verdict already
    m_testRunning = true;
    m_workerDone = false;
    try {
        m_worker = std::thread(&TestDbmsConnection::TestThreadProc, this, m_clientLibraryFolder,
                               m_settings);
    } catch (const std::system_error&) {
        m_workerDone = true;
        m_testRunning = false;
        EnableButtons(true);
    }
}

template <typename Call>
void TestDbmsConnection::OnUiThread(Call call) {
    if (m_abandoned) return;
    QMetaObject::invokeMethod(this, std::move(call), Qt::BlockingQueuedConnection);
}

void TestDbmsConnection::TestThreadProc(std::wstring clientLibraryFolder,
                                        DbmsConnectionSettings settings) {
    ConnectionTestDetails details;
    RunConnectionTest(
        clientLibraryFolder, settings,
        [this](const std::wstring& line) {
            OnUiThread([this, text = QString::fromStdWString(line)] { AddLine(text); });
        },
        &details);
    OnUiThread([this, &details] { OnTestFinished(details); });
    m_workerDone = true;  // the last touch of the dialog
}

void TestDbmsConnection::EnableButtons(bool enable) {
    m_startTest->setEnabled(enable);
    m_close->setEnabled(enable);
}

void TestDbmsConnection::AddLine(const QString& line) { m_resultList->addItem(line); }

void TestDbmsConnection::OnTestFinished(const ConnectionTestDetails& details) {
    m_details->setPlainText(QString::fromStdWString(DescribeConnectionTestDetails(details)));
    EnableButtons(true);
    m_resultList->setFocus();
    m_testRunning = false;
}
