#include "rowdeflater.h"

#include <algorithm>
#include <cstring>
#include <queue>
#include <utility>

namespace geom {

namespace {

const quint64 adlerModulus = 65521;
const int maximumCopy = 258;
// The farthest back a copy may reach: a row wider than this is written as its runs.
const quint64 maximumDistance = 32768;
const int endOfBlock = 256;
// Tokens of one block: a block's codes are fitted to its own symbols, and
// memory stays bounded for images that do not compress.
const size_t tokensPerBlock = size_t(1) << 16;
const quint32 copyFlag = 0x80000000u;

const int lengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                            31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const int lengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const int distanceBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                              193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
// The order in which a block gives the lengths of the code-length codes.
const int codeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

int lengthCode(int length)
{
    int code = 28;
    while (lengthBase[code] > length)
        --code;
    return code;
}

int distanceCode(int distance)
{
    if (distance <= 4)
        return distance - 1;
    int log2 = 0;
    for (quint32 d = quint32(distance - 1); d > 1; d >>= 1)
        ++log2;
    return 2 * log2 + int(((distance - 1) >> (log2 - 1)) & 1);
}

// Huffman code lengths for the frequencies, none longer than limit: where the
// tree grows too deep, the frequencies are flattened and the tree built again.
std::vector<int> codeLengths(std::vector<quint32> frequencies, int limit)
{
    const int n = int(frequencies.size());
    std::vector<int> lengths(size_t(n), 0);
    for (;;) {
        using Node = std::pair<quint64, int>; // weight, node
        std::priority_queue<Node, std::vector<Node>, std::greater<Node>> queue;
        std::vector<int> parent(size_t(n), -1);
        for (int i = 0; i < n; ++i) {
            if (frequencies[size_t(i)] > 0)
                queue.push({frequencies[size_t(i)], i});
        }
        while (queue.size() > 1) {
            const Node a = queue.top();
            queue.pop();
            const Node b = queue.top();
            queue.pop();
            const int node = int(parent.size());
            parent.push_back(-1);
            parent[size_t(a.second)] = node;
            parent[size_t(b.second)] = node;
            queue.push({a.first + b.first, node});
        }
        int deepest = 0;
        for (int i = 0; i < n; ++i) {
            int depth = 0;
            if (frequencies[size_t(i)] > 0) {
                for (int p = parent[size_t(i)]; p >= 0; p = parent[size_t(p)])
                    ++depth;
            }
            lengths[size_t(i)] = depth;
            deepest = std::max(deepest, depth);
        }
        if (deepest <= limit)
            return lengths;
        for (quint32 &f : frequencies) {
            if (f > 0)
                f = (f >> 1) | 1u;
        }
    }
}

// Canonical codes for the lengths, bit-reversed as deflate sends them.
std::vector<quint32> canonicalCodes(const std::vector<int> &lengths)
{
    int count[16] = {};
    for (const int l : lengths)
        ++count[l];
    count[0] = 0;
    quint32 next[16] = {};
    quint32 code = 0;
    for (int bits = 1; bits < 16; ++bits) {
        code = (code + quint32(count[bits - 1])) << 1;
        next[bits] = code;
    }
    std::vector<quint32> codes(lengths.size(), 0);
    for (size_t i = 0; i < lengths.size(); ++i) {
        const int l = lengths[i];
        if (l == 0)
            continue;
        const quint32 c = next[l]++;
        quint32 reversed = 0;
        for (int b = 0; b < l; ++b)
            reversed |= ((c >> b) & 1u) << (l - 1 - b);
        codes[i] = reversed;
    }
    return codes;
}

// At least two symbols in use, so that every code is complete.
void useTwoSymbols(std::vector<quint32> &frequencies)
{
    int used = 0;
    for (const quint32 f : frequencies)
        used += f > 0;
    for (size_t i = 0; used < 2 && i < frequencies.size(); ++i) {
        if (frequencies[i] == 0) {
            frequencies[i] = 1;
            ++used;
        }
    }
}

} // namespace

RowDeflater::RowDeflater(int rowBytes)
    : rowBytes(rowBytes)
    , literalFrequencies(286, 0)
    , distanceFrequencies(30, 0)
{
    out.append(char(0x78)).append(char(0x01)); // deflate, 32 KiB window
}

void RowDeflater::literal(uchar byte)
{
    if (tokens.size() >= tokensPerBlock)
        writeBlock(false);
    tokens.push_back(byte);
    ++literalFrequencies[byte];
}

void RowDeflater::copy(int length, int distance)
{
    while (length > 0) {
        if (tokens.size() >= tokensPerBlock)
            writeBlock(false);
        int part = std::min(length, maximumCopy);
        if (length - part > 0 && length - part < 3)
            part = length - 3; // the rest must be a copy of 3 or more too
        tokens.push_back(copyFlag | quint32(part) << 16 | quint32(distance - 1));
        ++literalFrequencies[size_t(257 + lengthCode(part))];
        ++distanceFrequencies[size_t(distanceCode(distance))];
        length -= part;
    }
}

void RowDeflater::run(uchar byte, quint64 count)
{
    if (count == 0)
        return;
    if (runCount > 0 && byte == runByte) {
        runCount += count;
        return;
    }
    endRun();
    runByte = byte;
    runCount = count;
}

// A run is its first byte and copies of the byte before, as long as they
// may be.
void RowDeflater::endRun()
{
    if (runCount == 0)
        return;
    literal(runByte);
    quint64 rest = runCount - 1;
    for (; rest > 0 && rest < 3; --rest)
        literal(runByte);
    // At most a whole image of the largest size: well within int.
    if (rest > 0)
        copy(int(rest), 1);
    runCount = 0;
}

void RowDeflater::addRow(const uchar *row)
{
    // A row is its filter byte and its bytes, and the data one stream: a run
    // goes on from one row into the next.
    const quint64 length = quint64(rowBytes) + 1;
    quint64 rowSum = 0;
    quint64 rowWeighted = 0;
    runs.clear();
    for (int i = 0; i < rowBytes;) {
        const uchar b = row[i];
        int j = i + 1;
        const quint64 pattern = Q_UINT64_C(0x0101010101010101) * b;
        for (quint64 v; j + 8 <= rowBytes && (std::memcpy(&v, row + j, 8), v == pattern);)
            j += 8;
        while (j < rowBytes && row[j] == b)
            ++j;
        const quint64 n = quint64(j - i);
        runs.push_back({b, n});
        // The byte at position p of the row counts (length - p) times in B.
        const quint64 p = quint64(i) + 1;
        rowSum += n * b;
        rowWeighted += b * (n * (length - p) - n * (n - 1) / 2);
        i = j;
    }
    adlerB = (adlerB + (length % adlerModulus) * adlerA + rowWeighted % adlerModulus) % adlerModulus;
    adlerA = (adlerA + rowSum % adlerModulus) % adlerModulus;

    // A row of many runs that repeats the one before is one copy of it.
    const quint64 copies = (length + maximumCopy - 1) / maximumCopy;
    if (previous && length >= 3 && length <= maximumDistance && runs.size() > 2 * copies && std::memcmp(row, previous, size_t(rowBytes)) == 0) {
        endRun();
        copy(int(length), int(length));
    } else {
        run(0, 1);
        for (const auto &r : runs)
            run(r.first, r.second);
    }
    previous = row;
}

void RowDeflater::writeBits(quint32 bits, int count)
{
    bitBuffer |= quint64(bits) << bitCount;
    bitCount += count;
    while (bitCount >= 8) {
        out.append(char(bitBuffer & 0xff));
        bitBuffer >>= 8;
        bitCount -= 8;
    }
}

void RowDeflater::writeBlock(bool last)
{
    ++literalFrequencies[endOfBlock];
    useTwoSymbols(literalFrequencies);
    useTwoSymbols(distanceFrequencies);
    const std::vector<int> literalLengths = codeLengths(literalFrequencies, 15);
    const std::vector<int> distanceLengths = codeLengths(distanceFrequencies, 15);
    const std::vector<quint32> literalCodes = canonicalCodes(literalLengths);
    const std::vector<quint32> distanceCodes = canonicalCodes(distanceLengths);

    int literalCount = 286;
    while (literalCount > 257 && literalLengths[size_t(literalCount - 1)] == 0)
        --literalCount;
    int distanceCount = 30;
    while (distanceCount > 1 && distanceLengths[size_t(distanceCount - 1)] == 0)
        --distanceCount;

    // Both code lengths in one sequence, runs written as repeats.
    std::vector<int> all(literalLengths.begin(), literalLengths.begin() + literalCount);
    all.insert(all.end(), distanceLengths.begin(), distanceLengths.begin() + distanceCount);
    std::vector<std::pair<int, int>> symbols; // code-length symbol, extra bits value
    std::vector<quint32> codeLengthFrequencies(19, 0);
    for (size_t i = 0; i < all.size();) {
        const int l = all[i];
        size_t run = 1;
        while (i + run < all.size() && all[i + run] == l)
            ++run;
        if (l == 0 && run >= 3) {
            const int n = int(std::min<size_t>(run, 138));
            symbols.push_back(n >= 11 ? std::make_pair(18, n - 11) : std::make_pair(17, n - 3));
            i += size_t(n);
        } else if (l != 0 && run >= 4) {
            symbols.push_back({l, 0});
            const int n = int(std::min<size_t>(run - 1, 6));
            symbols.push_back({16, n - 3});
            i += size_t(n) + 1;
        } else {
            symbols.push_back({l, 0});
            ++i;
        }
    }
    for (const auto &s : symbols)
        ++codeLengthFrequencies[size_t(s.first)];
    useTwoSymbols(codeLengthFrequencies);
    const std::vector<int> codeLengthLengths = codeLengths(codeLengthFrequencies, 7);
    const std::vector<quint32> codeLengthCodes = canonicalCodes(codeLengthLengths);
    int codeLengthCount = 19;
    while (codeLengthCount > 4 && codeLengthLengths[size_t(codeLengthOrder[codeLengthCount - 1])] == 0)
        --codeLengthCount;

    writeBits(last ? 1 : 0, 1);
    writeBits(2, 2); // dynamic Huffman codes
    writeBits(quint32(literalCount - 257), 5);
    writeBits(quint32(distanceCount - 1), 5);
    writeBits(quint32(codeLengthCount - 4), 4);
    for (int i = 0; i < codeLengthCount; ++i)
        writeBits(quint32(codeLengthLengths[size_t(codeLengthOrder[i])]), 3);
    for (const auto &s : symbols) {
        writeBits(codeLengthCodes[size_t(s.first)], codeLengthLengths[size_t(s.first)]);
        if (s.first == 16)
            writeBits(quint32(s.second), 2);
        else if (s.first == 17)
            writeBits(quint32(s.second), 3);
        else if (s.first == 18)
            writeBits(quint32(s.second), 7);
    }

    for (const quint32 t : tokens) {
        if (!(t & copyFlag)) {
            writeBits(literalCodes[t], literalLengths[t]);
            continue;
        }
        const int length = int((t >> 16) & 0x1ff);
        const int distance = int(t & 0xffff) + 1;
        const int lc = lengthCode(length);
        writeBits(literalCodes[size_t(257 + lc)], literalLengths[size_t(257 + lc)]);
        if (lengthExtra[lc])
            writeBits(quint32(length - lengthBase[lc]), lengthExtra[lc]);
        const int dc = distanceCode(distance);
        writeBits(distanceCodes[size_t(dc)], distanceLengths[size_t(dc)]);
        if (dc >= 4)
            writeBits(quint32(distance - distanceBase[dc]), dc / 2 - 1);
    }
    writeBits(literalCodes[endOfBlock], literalLengths[endOfBlock]);

    tokens.clear();
    std::fill(literalFrequencies.begin(), literalFrequencies.end(), 0);
    std::fill(distanceFrequencies.begin(), distanceFrequencies.end(), 0);
}

QByteArray RowDeflater::finish()
{
    endRun();
    writeBlock(true);
    if (bitCount > 0)
        writeBits(0, 8 - bitCount);
    const quint32 adler = quint32(adlerB << 16 | adlerA);
    for (int shift = 24; shift >= 0; shift -= 8)
        out.append(char((adler >> shift) & 0xff));
    return out;
}

} // namespace geom
