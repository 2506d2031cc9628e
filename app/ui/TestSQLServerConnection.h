#pragma once
// The "Test Connection" dialog: runs the connection test with what the caller-ID page
// holds, on a worker thread, and shows each step as a line of its list. While a test
// runs the dialog cannot be dismissed; the details of the last run (library, versions,
// times, Firebird's own errors) show on request below the list.

#include <QDialog>
#include <atomic>
#include <string>
#include <thread>

#include "app/CallerIdDbConnection.h"
#include "app/connection_test.h"

class QListWidget;
class QPlainTextEdit;
class QPushButton;

class TestDbmsConnection : public QDialog {
    Q_OBJECT
public:
    // With Windows authentication (useDbmsAuthentication false) the test connects
    // without a user name and password, whatever the page's fields hold.
    TestDbmsConnection(QWidget* parent, const std::wstring& server, const std::wstring& port,
                       bool useDbmsAuthentication, const std::wstring& userName,
                       const std::wstring& password);
    // Waits for a running test's worker, which may need the connection bound to end.
    ~TestDbmsConnection() override;
    TestDbmsConnection(const TestDbmsConnection&) = delete;
    TestDbmsConnection& operator=(const TestDbmsConnection&) = delete;

    QPushButton* StartTestButton() const { return m_startTest; }
    QPushButton* CloseButton() const { return m_close; }
    QListWidget* ResultList() const { return m_resultList; }
    QPushButton* DetailsButton() const { return m_detailsButton; }
    QPlainTextEdit* DetailsView() const { return m_details; }
    bool TestRunning() const { return m_testRunning; }

    // Escape and the Close button: ignored while a test runs.
    void reject() override;

protected:
    // The close box and Alt+F4: ignored while a test runs.
    void closeEvent(QCloseEvent* event) override;

private:
    void OnStartTest();
    void TestThreadProc(std::wstring clientLibraryFolder, DbmsConnectionSettings settings);
    // Runs `call` on the user-interface thread and waits for it; nothing once the
    // dialog is going away.
    template <typename Call>
    void OnUiThread(Call call);
    void AddLine(const QString& line);
    // Start Test and Close: both off while a test runs.
    void EnableButtons(bool enable);
    void OnTestFinished(const ConnectionTestDetails& details);
    void JoinWorker();

    QPushButton* m_close;
    QPushButton* m_startTest;
    QListWidget* m_resultList;
    QPushButton* m_detailsButton;
    QPlainTextEdit* m_details;
    std::wstring m_clientLibraryFolder;
    DbmsConnectionSettings m_settings;
    // Written and read on the user-interface thread only.
    bool m_testRunning = false;

    std::thread m_worker;
    std::atomic<bool> m_workerDone{true};
    std::atomic<bool> m_abandoned{false};
};
