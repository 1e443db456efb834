// libFuzzer target for SlcReader.
//
// Every input is read from a device of known size both in parallel and on one
// thread: the slices must be the same bit for bit and the status the same,
// also when only the first few layers are read, and the reader must then be
// left in the same place (the next layer read is the same). It is read once
// more from a sequential device that hides its size: the same slices, and the
// same success, since the size checks only change how early a bad count is
// noticed. A peek must equal the read that follows it. The slices read are
// written back with SlcWriter and read again: the copy must hold the same
// layers. Under a budget, parallel and one-thread reads refuse the same inputs
// as needing more memory.

#include "fuzzsupport.h"
#include "slcreader.h"
#include "slcwriter.h"

#include <QBuffer>
#include <QByteArray>
#include <QIODevice>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using fuzzsupport::check;
using fuzzsupport::sameBits;
using fuzzsupport::SequentialReader;

bool sameSlice(const Slice &a, const Slice &b)
{
    if (!sameBits(a.z(), b.z()) || !sameBits(a.thickness(), b.thickness()) || a.contourCount() != b.contourCount())
        return false;
    for (int i = 0; i < a.contourCount(); ++i) {
        const QVector<geom::Point2Df> &p = a.contourAt(i).points();
        const QVector<geom::Point2Df> &q = b.contourAt(i).points();
        if (p.size() != q.size() || std::memcmp(p.constData(), q.constData(), size_t(p.size()) * sizeof(geom::Point2Df)) != 0)
            return false;
    }
    return true;
}

bool sameSlices(const QList<Slice> &a, const QList<Slice> &b)
{
    if (a.size() != b.size())
        return false;
    for (int i = 0; i < a.size(); ++i) {
        if (!sameSlice(a.at(i), b.at(i)))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    const bool removeGaps = (size & 1) != 0;

    QByteArray copy = bytes;
    QBuffer buffer(&copy);
    SlcReader reader(&buffer);
    check(reader.isParallel(), "the reader does not read in parallel by default");
    const QList<Slice> slices = reader.readSlices(removeGaps, -1);
    const bool ok = reader.stream()->status() == QDataStream::Ok;

    QBuffer plainBuffer(&copy);
    SlcReader plainReader(&plainBuffer);
    plainReader.setParallel(false);
    check(sameSlices(slices, plainReader.readSlices(removeGaps, -1)), "parallel and one-thread reads differ");
    check(reader.stream()->status() == plainReader.stream()->status(),
          "parallel and one-thread reads end with another status");

    // A few layers, then one more: the parallel pass must leave the reader
    // where the one-thread reader is.
    const int limit = int(size % 4);
    QBuffer parallelPartBuffer(&copy);
    SlcReader parallelPart(&parallelPartBuffer);
    QBuffer plainPartBuffer(&copy);
    SlcReader plainPart(&plainPartBuffer);
    plainPart.setParallel(false);
    check(sameSlices(parallelPart.readSlices(removeGaps, limit), plainPart.readSlices(removeGaps, limit)),
          "parallel and one-thread reads of the first layers differ");
    check(parallelPartBuffer.pos() == plainPartBuffer.pos(), "parallel and one-thread reads stop at another place");
    check(sameSlice(parallelPart.readSlice(removeGaps), plainPart.readSlice(removeGaps)),
          "the layer after the first ones differs between parallel and one-thread reads");
    check(parallelPart.stream()->status() == plainPart.stream()->status(),
          "parallel and one-thread reads of the first layers end with another status");

    SequentialReader pipe(bytes);
    SlcReader sequentialReader(&pipe);
    const QList<Slice> sequentialSlices = sequentialReader.readSlices(removeGaps, -1);
    check(sameSlices(slices, sequentialSlices), "sequential and random-access reads differ");
    check(ok == (sequentialReader.stream()->status() == QDataStream::Ok),
          "sequential and random-access reads disagree on success");

    // Under a budget the input chooses, every road weighs the file the same: the same verdict,
    // and either the slices read without a budget or none at all.
    const qint64 budget = size > 0 ? qint64(size) * (data[size - 1] % 64) : 0;
    QBuffer budgetBuffer(&copy);
    SlcReader budgetReader(&budgetBuffer);
    budgetReader.setMemoryBudget(budget);
    const QList<Slice> budgetSlices = budgetReader.readSlices(removeGaps, -1);
    QBuffer plainBudgetBuffer(&copy);
    SlcReader plainBudgetReader(&plainBudgetBuffer);
    plainBudgetReader.setParallel(false);
    plainBudgetReader.setMemoryBudget(budget);
    const QList<Slice> plainBudgetSlices = plainBudgetReader.readSlices(removeGaps, -1);
    check(budgetReader.needsMoreMemory() == plainBudgetReader.needsMoreMemory(),
          "parallel and one-thread reads weigh a file differently");
    check(sameSlices(budgetSlices, plainBudgetSlices), "parallel and one-thread reads under a budget differ");
    if (budgetReader.needsMoreMemory()) {
        check(budgetSlices.isEmpty(), "a file refused for its memory gives slices");
        check(budgetReader.stream()->status() == QDataStream::ReadCorruptData,
              "a file refused for its memory reads as if it were sound");
    } else {
        check(sameSlices(budgetSlices, slices), "a budget that is not exceeded changes the slices");
    }

    QBuffer peekBuffer(&copy);
    SlcReader peekReader(&peekBuffer);
    const Slice peeked = peekReader.peekSlice(removeGaps);
    const Slice first = peekReader.readSlice(removeGaps);
    check(sameSlice(peeked, first), "peekSlice differs from the readSlice after it");
    if (!slices.isEmpty())
        check(sameSlice(first, slices.first()), "readSlice differs from the first of readSlices");

    QByteArray written;
    QBuffer out(&written);
    int count = 0;
    bool finished = false;
    {
        SlcWriter writer(&out);
        count = writer.writeSlices(slices, false);
        finished = writer.finish();
    }
    if (count > 0 && finished) {
        out.close();
        out.open(QIODevice::ReadOnly);
        SlcReader again(&out);
        const QList<Slice> reread = again.readSlices(false, -1);
        check(again.stream()->status() == QDataStream::Ok, "a file we wrote does not read back");
        check(reread.size() == count, "a file we wrote reads back with another layer count");
        for (int i = 0; i < count; ++i) {
            check(sameBits(reread.at(i).z(), slices.at(i).z()), "a layer height changed on the way back");
            check(reread.at(i).contourCount() == slices.at(i).contourCount(),
                  "a layer's boundary count changed on the way back");
        }
    }
    return 0;
}
