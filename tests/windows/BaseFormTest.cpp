#include "WindowTestSupport.h"

#include "settings/TRegIniFile.h"
#include "types/Exception.h"
#include "windows/BaseFormUnit.h"

#include <QApplication>
#include <QDirIterator>
#include <QWindow>

#include <memory>

namespace {

const std::string Section = "Stirwatch\\PlainForm";

// A resizable window of 300 x 200 at (10, 20) that records its destroy path.
class TPlainForm : public BaseForm {
public:
    explicit TPlainForm(QWidget* owner = nullptr, std::vector<std::string>* journal = nullptr)
        : BaseForm(owner), Journal(journal) {
        setObjectName("PlainForm");
        resize(300, 200);
        move(10, 20);
    }

    void FormDestroy() override {
        Record("FormDestroy");
        BaseForm::FormDestroy();
    }
    void SaveSettings() override {
        Record("SaveSettings");
        BaseForm::SaveSettings();
    }

private:
    void Record(const std::string& entry) {
        if (Journal) {
            Journal->push_back(entry);
        }
    }
    std::vector<std::string>* Journal;
};

// A window whose store refuses the save.
class TFailingForm : public TPlainForm {
public:
    using TPlainForm::TPlainForm;
    void SaveSettings() override { throw ERegistryException("Failed to set data for 'Top'"); }
};

// Windows exist only as CreateForm and MakeForm make them.
static_assert(std::is_abstract_v<TPlainForm> && std::is_abstract_v<TFailingForm>);

void StorePlacement(int left, int top, int width, int height) {
    TRegIniFile settings(BaseForm::SettingsBaseKey);
    settings.WriteInteger(Section, "Top", top);
    settings.WriteInteger(Section, "Left", left);
    settings.WriteInteger(Section, "Width", width);
    settings.WriteInteger(Section, "Height", height);
}

std::string Stored(const std::string& name) {
    return TRegIniFile(BaseForm::SettingsBaseKey).ReadString(Section, name, "<absent>");
}

std::unique_ptr<TPlainForm> LoadedForm() {
    auto form = BaseForm::MakeForm<TPlainForm>();
    form->LoadSettings("Stirwatch");
    return form;
}

QRect LoadedPlacement(int left, int top, int width, int height) {
    StorePlacement(left, top, width, height);
    return LoadedForm()->OuterPlacement();
}

} // namespace

TEST(MonitorEdges, SpanAllMonitorsWithWholeRectangles) {
    const std::vector<QRect> monitors{QRect(0, 0, 1920, 1080), QRect(-1280, 100, 1280, 1024)};
    EXPECT_EQ(LeftmostMonitorEdge(monitors), -1280);
    EXPECT_EQ(RightmostMonitorEdge(monitors), 1920);
    EXPECT_EQ(TopmostMonitorEdge(monitors), 0);
    EXPECT_EQ(BottommostMonitorEdge(monitors), 1124);
}

using PlacementTest = WindowTest;

TEST_F(PlacementTest, OneMonitorMovesBackOnlyWindowsWhollyOffTheDesktop) {
    EXPECT_EQ(LoadedPlacement(-5000, 10, 300, 200).left(), 0);
    EXPECT_EQ(LoadedPlacement(-300, 10, 300, 200).left(), 0);
    EXPECT_EQ(LoadedPlacement(-100, 10, 300, 200).left(), -100);
    EXPECT_EQ(LoadedPlacement(1920, 10, 300, 200).left(), 0);
    EXPECT_EQ(LoadedPlacement(1919, 10, 300, 200).left(), 1919);
    EXPECT_EQ(LoadedPlacement(10, -400, 300, 400).top(), 0);
    EXPECT_EQ(LoadedPlacement(10, -399, 300, 400).top(), -399);
    EXPECT_EQ(LoadedPlacement(10, 1080, 300, 400).top(), 0);
    EXPECT_EQ(LoadedPlacement(10, 1079, 300, 400).top(), 1079);
}

TEST_F(PlacementTest, StoredPlacementIsAppliedAsOuterFrame) {
    EXPECT_EQ(LoadedPlacement(40, 30, 500, 400), QRect(40, 30, 500, 400));
}

TEST_F(PlacementTest, TwoMonitorsClampAgainstTheirBoundingBox) {
    UseMonitors({QRect(0, 0, 1920, 1080), QRect(-1280, 0, 1280, 1024)});
    EXPECT_EQ(LoadedPlacement(-1000, 10, 300, 200).left(), -1000);
    // Below the shorter left monitor: inside the box, on no monitor, stays.
    EXPECT_EQ(LoadedPlacement(-1000, 1050, 300, 200), QRect(-1000, 1050, 300, 200));
    // Moved back to the monitor at the origin, not to the leftmost edge.
    EXPECT_EQ(LoadedPlacement(-1600, 10, 300, 200).left(), 0);
}

TEST_F(PlacementTest, EmptyStoreKeepsTheDesignedPlacement) {
    EXPECT_EQ(LoadedForm()->OuterPlacement(), QRect(10, 20, 300, 200));
}

TEST_F(PlacementTest, DamagedValuesNeitherOverflowNorAskForHugeWindows) {
    const QRect placement = LoadedPlacement(2147483647, -2147483647 - 1, 2147483647, -5);
    EXPECT_EQ(placement.left(), 0);
    EXPECT_EQ(placement.top(), 0);
    EXPECT_LE(placement.width(), 1920);
    EXPECT_GE(placement.height(), 1);
}

TEST_F(PlacementTest, SaveWritesPlacementAndMaximizedInTheSection) {
    auto form = LoadedForm();
    form->move(123, 45);
    form->resize(310, 220);
    form.reset();
    EXPECT_EQ(Stored("Top"), "45");
    EXPECT_EQ(Stored("Left"), "123");
    EXPECT_EQ(Stored("Width"), "310");
    EXPECT_EQ(Stored("Height"), "220");
    EXPECT_EQ(Stored("Maximized"), "0");
}

TEST_F(PlacementTest, WindowDestroyedBeforeLoadingWritesNothing) {
    BaseForm::MakeForm<TPlainForm>().reset();
    EXPECT_EQ(Stored("Top"), "<absent>");
    EXPECT_EQ(Stored("Maximized"), "<absent>");
}

TEST_F(PlacementTest, ShownWindowRoundTripsThroughTheSettingsFile) {
    {
        auto form = LoadedForm();
        form->show();
        QApplication::processEvents();
        EXPECT_EQ(form->size(), QSize(300, 200)) << "the designed client area stays";
        form->move(222, 111);
        form->resize(330, 230);
        QApplication::processEvents();
    }
    QDirIterator files(ConfigHome.path(), QDir::Files, QDirIterator::Subdirectories);
    EXPECT_TRUE(files.hasNext()) << "no settings file was written";
    const std::string width = Stored("Width");

    auto again = LoadedForm();
    again->show();
    QApplication::processEvents();
    EXPECT_EQ(again->OuterPlacement().topLeft(), QPoint(222, 111));
    EXPECT_EQ(std::to_string(again->OuterPlacement().width()), width);
    again.reset();
    EXPECT_EQ(Stored("Width"), width) << "the frame must not be added on every run";
}

TEST_F(PlacementTest, StoredMaximizedOpensMaximizedAndRestoresToStoredPlacement) {
    StorePlacement(100, 50, 400, 300);
    TRegIniFile(BaseForm::SettingsBaseKey).WriteString(Section, "Maximized", "1");
    auto form = LoadedForm();
    EXPECT_TRUE(form->windowState() & Qt::WindowMaximized);
    form->show();
    QApplication::processEvents();
    EXPECT_TRUE(form->isMaximized());
    form->showNormal();
    QApplication::processEvents();
    // The frame was unknown when the window was maximized, so the restored
    // size may exceed the stored outer size by the frame; the place is exact.
    const QRect restored = form->OuterPlacement();
    EXPECT_EQ(restored.topLeft(), QPoint(100, 50));
    EXPECT_NEAR(restored.width(), 400, 10);
    EXPECT_NEAR(restored.height(), 300, 10);
}

TEST_F(PlacementTest, SaveWhileMaximizedKeepsTheNormalPlacement) {
    StorePlacement(100, 50, 400, 300);
    auto form = LoadedForm();
    form->showMaximized();
    QApplication::processEvents();
    form.reset();
    EXPECT_EQ(Stored("Maximized"), "1");
    EXPECT_EQ(Stored("Top"), "50");
    EXPECT_EQ(Stored("Left"), "100");
    EXPECT_EQ(Stored("Width"), "400");
    EXPECT_EQ(Stored("Height"), "300");
}

TEST_F(PlacementTest, MinimizedWindowStoresItsNormalPlacement) {
    StorePlacement(100, 50, 400, 300);
    auto form = LoadedForm();
    form->show();
    QApplication::processEvents();
    form->showMinimized();
    QApplication::processEvents();
    form.reset();
    EXPECT_EQ(Stored("Maximized"), "0");
    EXPECT_EQ(Stored("Left"), "100");
    EXPECT_EQ(Stored("Width"), "400");
}

using LifecycleTest = WindowTest;

TEST_F(LifecycleTest, OwnerDestroyingTheWindowRunsTheMostDerivedSave) {
    std::vector<std::string> journal;
    auto owner = std::make_unique<QWidget>();
    BaseForm::CreateForm<TPlainForm>(owner.get(), &journal)->LoadSettings("Stirwatch");
    owner.reset();
    EXPECT_EQ(journal, (std::vector<std::string>{"FormDestroy", "SaveSettings"}));
    EXPECT_EQ(Stored("Left"), "10");
}

TEST_F(LifecycleTest, DestroyFormSavesOnceAndClearsThePointer) {
    std::vector<std::string> journal;
    QWidget owner;
    TPlainForm* form = BaseForm::CreateForm<TPlainForm>(&owner, &journal);
    BaseForm::DestroyForm(form);
    EXPECT_EQ(form, nullptr);
    EXPECT_EQ(journal, (std::vector<std::string>{"FormDestroy", "SaveSettings"}));
    EXPECT_TRUE(owner.findChildren<BaseForm*>().isEmpty());
}

TEST_F(LifecycleTest, SaveErrorDuringDestructionIsReportedAndDestructionGoesOn) {
    QWidget owner;
    auto* failing = BaseForm::CreateForm<TFailingForm>(&owner);
    BaseForm::DestroyForm(failing);
    BaseForm::MakeForm<TFailingForm>().reset();
    EXPECT_EQ(Reported, (std::vector<std::string>(2, "Failed to set data for 'Top'")));
}

TEST_F(LifecycleTest, ErrorRouteLastsWhileItLivesAndThenRestoresTheOneBefore) {
    std::vector<std::string> inner;
    {
        TErrorRoute route([&](const std::exception& error) { inner.push_back(error.what()); });
        BaseForm::MakeForm<TFailingForm>().reset();
    }
    BaseForm::MakeForm<TFailingForm>().reset();
    EXPECT_EQ(inner, std::vector<std::string>{"Failed to set data for 'Top'"});
    EXPECT_EQ(Reported, std::vector<std::string>{"Failed to set data for 'Top'"});
}

TEST_F(LifecycleTest, ShowAndCloseReachTheNotificationsAndCloseOnlyHides) {
    QWidget owner;
    auto* form = BaseForm::CreateForm<TPlainForm>(&owner);
    int shown = 0;
    int closed = 0;
    form->OnShown = [&](BaseForm* sender) { shown += sender == form; };
    form->OnClosed = [&](BaseForm* sender) { closed += sender == form; };
    form->show();
    EXPECT_EQ(shown, 1);
    EXPECT_TRUE(form->close());
    EXPECT_EQ(closed, 1);
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(owner.findChildren<BaseForm*>().size(), 1);
}

TEST_F(LifecycleTest, OwnedWindowIsATopLevelWindowOfItsOwn) {
    QWidget owner;
    owner.show();
    auto* form = BaseForm::CreateForm<TPlainForm>(&owner);
    form->show();
    ASSERT_NE(form->windowHandle(), nullptr);
    EXPECT_TRUE(form->isWindow());
    EXPECT_EQ(form->windowHandle()->transientParent(), nullptr);
}

TEST_F(LifecycleTest, FailingCloseNotificationIsReportedAndKeepsTheWindowOpen) {
    auto form = BaseForm::MakeForm<TPlainForm>();
    form->OnClosed = [](BaseForm*) { throw Exception("Cannot close now"); };
    form->show();
    EXPECT_FALSE(form->close());
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(Reported, std::vector<std::string>{"Cannot close now"});
}
