#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class PasswordEntry;
}
struct ProfileSettings;

// "Enter password": asks for the POP3 password of this run. What is typed is
// used as it is and never stored.
class PasswordEntry : public QDialog
{
    Q_OBJECT

public:
    explicit PasswordEntry(ProfileSettings& settings, QWidget* parent = nullptr);
    ~PasswordEntry() override;

    void PasswordEntry_Command1_Click();

private:
    std::unique_ptr<Ui::PasswordEntry> ui;
    ProfileSettings& m_settings;
};
