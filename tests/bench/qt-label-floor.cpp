// The floor for any Qt Widgets program: one window showing one label. Prints
// "shown" once the label has painted for the first time, then idles until it
// is ended. Built as qt-label-floor-tls it loads Qt's TLS backend first
// (QSslSocket::supportsSsl): the floor of any program that speaks TLS. With
// --tick it also wakes every 5 s for a timer that does nothing: the floor of
// a Qt program that keeps a clock.

#include <QApplication>
#include <QLabel>
#include <QTimer>
#ifdef POSTOWL_TLS_FLOOR
#include <QSslSocket>
#endif

#include <cstdio>

class PaintedLabel : public QLabel
{
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QLabel::paintEvent(event);
        if (!m_told) {
            m_told = true;
            std::puts("shown");
            std::fflush(stdout);
        }
    }

private:
    bool m_told = false;
};

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
#ifdef POSTOWL_TLS_FLOOR
    if (!QSslSocket::supportsSsl())
        return 1;
#endif
    PaintedLabel label(QStringLiteral("PostOwl 1.5"));
    label.show();
    QTimer tick;
    if (argc > 1 && qstrcmp(argv[1], "--tick") == 0) {
        QObject::connect(&tick, &QTimer::timeout, &label, [] {});
        tick.start(5000);
    }
    return application.exec();
}
