// The print-order chooser: prints the song list sorted by title or by performer.
#pragma once

#include <QDialog>

class TformOrder : public QDialog {
    Q_OBJECT
public:
    explicit TformOrder(QWidget* parent = nullptr);
    ~TformOrder() override;
};

// The window of the running program (null while there is none).
extern TformOrder* formOrder;
