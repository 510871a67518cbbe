// The worker thread, the stop flag and the consent handshake that every job shares.
#include "BusJob.h"

#include <cstdio>
#include <cstdlib>

#include "ServiceRecord.h"

int JobProgress::perMille() const
{
    if (steps <= 0 || step <= 0)
        return 0;
    const int before = (qMin(step, steps) - 1) * 1000;
    int within = 0;
    if (stepComplete)
        within = 1000;
    else if (total > 0)
        // A step counts in full only once it is known to have succeeded: the last unit of an
        // image acknowledged is not yet a written axis.
        within = int(qMin<qint64>(999, done * 1000 / total));
    return (before + within) / steps;
}

BusJob::BusJob(QObject* parent)
    : QObject(parent)
{
    qRegisterMetaType<JobProgress>();
    qRegisterMetaType<ReadOutResult>();
}

BusJob::~BusJob()
{
    if (running_) {
        // The derived part this worker runs on is already gone: nothing sound can follow.
        std::fprintf(stderr,
            "zuvian: a job was destroyed while its worker ran; a started job "
            "is owned through BusJob::Owned\n");
        std::abort();
    }
    if (worker_.joinable())
        worker_.join();
}

void BusJob::StopAndDelete::operator()(BusJob* job) const
{
    if (!job)
        return;
    job->requestStop();
    job->wait();
    delete job;
}

bool BusJob::start()
{
    if (worker_.joinable())
        return false;
    running_ = true;
    onWorker_ = true;
    worker_ = std::thread([this] {
        work();
        running_ = false;
    });
    return true;
}

bool BusJob::isRunning() const
{
    return running_;
}

void BusJob::wait()
{
    if (worker_.joinable() && worker_.get_id() != std::this_thread::get_id())
        worker_.join();
}

void BusJob::requestStop()
{
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    answered_.notify_all();
}

bool BusJob::stopRequested() const
{
    return stop_;
}

void BusJob::answer(bool yes)
{
    std::lock_guard<std::mutex> lock(mutex_);
    answer_ = yes;
    answered_.notify_all();
}

QString BusJob::stopQuestion(const JobProgress& /*now*/) const
{
    return QString();
}

bool BusJob::askConsent(const QString& title, const QString& question)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        answer_.reset();
    }
    emit consentNeeded(title, question);
    std::unique_lock<std::mutex> lock(mutex_);
    // On the caller's own thread nobody else could answer later: only a direct connection that
    // answered during the signal counts.
    if (onWorker_)
        answered_.wait(lock, [this] { return answer_.has_value() || stop_; });
    return !stop_ && answer_.value_or(false);
}

ReadOutResult BusJob::readOut(const QString& eth, bool reportSteps)
{
    const ReadOut::Report report
        = [this, reportSteps](const QString& part, int axis, int step, int steps) {
              emit status(QStringLiteral("read %1 axis %2").arg(part).arg(axis));
              if (!reportSteps)
                  return;
              JobProgress now;
              now.part = part;
              now.axis = axis;
              now.step = step;
              now.steps = steps;
              emit progress(now);
          };
    emit status(QStringLiteral("read out the bus on %1").arg(eth));
    return ReadOut::run(eth, report);
}

void BusJob::setTester(const QString& tester)
{
    tester_ = tester;
}

void BusJob::setRecordJob(const QString& job)
{
    recordJob_ = job;
}

BusJob::Recorded BusJob::recorded() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return recorded_;
}

JobRecord::Context BusJob::recordContext(const QString& job, const QString& eth) const
{
    JobRecord::Context context;
    context.job = recordJob_.isEmpty() ? job : recordJob_;
    context.tester = tester_;
    context.interface = eth;
    context.time = QDateTime::currentDateTimeUtc();
    return context;
}

void BusJob::leaveRecord(const QJsonObject& record)
{
    Recorded done;
    done.record = record;
    done.file = ServiceRecord::append(record, &done.error);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        recorded_ = done;
    }
    emit recordLeft(done.file, done.error);
}
