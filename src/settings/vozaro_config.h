// The configuration window.  It owns the live settings of the run, read from
// the store when the window is created (the last of the program's windows)
// and saved at once, so that after the first run every value is stored.
#pragma once

#include <QDialog>

#include "settings/vozaro_uteis.h"

class TformConfig : public QDialog {
    Q_OBJECT
public:
    explicit TformConfig(QWidget* parent = nullptr);
    ~TformConfig() override;

    TKaraokeSettings Settings;

    // Stores the live settings and sets their derived values.
    void ApplySettings();

private:
    void FormCreate();
};

// The configuration window of the running program (null while there is none).
extern TformConfig* formConfig;
