// The settings between the window's form and TSettings: each setting goes to
// the control the schema names, and back, and showing runs no handler.
#include "link/fake_library.h"
#include "ui/Main.h"
#include "ui/settings_form.h"
#include "ui/window_settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <tuple>

namespace {

auto Tied(const qvr::TSettings &s)
{
    return std::tie(s.AutoSave, s.Update, s.AutoConnect, s.SaveDate, s.SaveTime, s.SaveRaw,
                    s.SavePercent, s.SaveCoeff, s.SaveFile, s.SensorCount, s.SaveFreq, s.ChartType,
                    s.Coeff);
}

// What the control of that object name shows: "1"/"0", a list index, a text.
std::string Shown(const QWidget &form, const char *name)
{
    const QWidget *control = form.findChild<QWidget *>(QLatin1String(name));
    if (const auto *box = qobject_cast<const QCheckBox *>(control))
        return box->isChecked() ? "1" : "0";
    if (const auto *list = qobject_cast<const QComboBox *>(control))
        return std::to_string(list->currentIndex());
    if (const auto *edit = qobject_cast<const QLineEdit *>(control))
        return edit->text().toStdString();
    return "<no control>";
}

// One setting changed from the base at a time: only its own control shows
// it, and the form gives back exactly what was shown.
TEST(SettingsForm, EachSettingGoesToItsNamedControlAndBack)
{
    struct Row {
        const char *control;
        std::function<void(qvr::TSettings &)> change;
        const char *shown;
    };
    const Row rows[] = {
        {"AutoSaveData", [](qvr::TSettings &s) { s.AutoSave = true; }, "1"},
        {"AutoUpdateData", [](qvr::TSettings &s) { s.Update = true; }, "1"},
        {"auto_connect", [](qvr::TSettings &s) { s.AutoConnect = true; }, "1"},
        {"save_data", [](qvr::TSettings &s) { s.SaveDate = false; }, "0"},
        {"save_time", [](qvr::TSettings &s) { s.SaveTime = false; }, "0"},
        {"save_raw", [](qvr::TSettings &s) { s.SaveRaw = false; }, "0"},
        {"save_percent", [](qvr::TSettings &s) { s.SavePercent = false; }, "0"},
        {"save_coeff", [](qvr::TSettings &s) { s.SaveCoeff = false; }, "0"},
        {"FileName", [](qvr::TSettings &s) { s.SaveFile = "/srv/pomiary ż.csv"; },
         "/srv/pomiary ż.csv"},
        {"SensorCnt", [](qvr::TSettings &s) { s.SensorCount = 15; }, "15"},
        {"SensorCnt", [](qvr::TSettings &s) { s.SensorCount = -1; }, "-1"},
        {"SaveFreq", [](qvr::TSettings &s) { s.SaveFreq = 7; }, "7"},
        {"ChartType", [](qvr::TSettings &s) { s.ChartType = 1; }, "1"},
        {"Coeff", [](qvr::TSettings &s) { s.Coeff = "2,5"; }, "2,5"},
    };
    qvr::test::FakeLibrary library;
    TFMain w(library, qvr::test::SettingsFile());
    const qvr::TSettingsForm form(w);
    qvr::TSettings base;
    base.SaveFile = "pomiar.csv";
    base.Coeff = "1";
    const int rows0 = w.Form().SensorValue->rowCount();
    const bool gauges0 = w.Form().Chart2->isHidden();
    for (const Row &r : rows) {
        SCOPED_TRACE(r.control);
        form.Show(base);
        const std::string before = Shown(w, r.control);
        qvr::TSettings changed = base;
        r.change(changed);
        form.Show(changed);
        EXPECT_NE(Shown(w, r.control), before);
        EXPECT_EQ(Shown(w, r.control), r.shown);
        EXPECT_TRUE(Tied(form.Shown()) == Tied(changed));
    }
    // Setting a list's index ran neither the grid's nor the chart's handler.
    EXPECT_EQ(w.Form().SensorValue->rowCount(), rows0);
    EXPECT_EQ(w.Form().Chart2->isHidden(), gauges0);
}

} // namespace
