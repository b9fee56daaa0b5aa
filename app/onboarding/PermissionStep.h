#pragma once
// The guide's page that asks for access to the user's folders.

#include <QWidget>

namespace keldwick {

class OnboardingHost;
class PermissionInstructions;

class PermissionStep final : public QWidget {
    Q_OBJECT

public:
    explicit PermissionStep(OnboardingHost& host, QWidget* parent = nullptr);
    PermissionInstructions* instructions() const { return instructions_; }

private:
    PermissionInstructions* instructions_;
};

}  // namespace keldwick
