// Runs a fuzz target's checks without a fuzzer: over its seed corpus, then over a fixed sequence of
// pseudo-random inputs, the same on every run, so a failure repeats with the host compiler alone.
// Usage: <driver> <count> [seed folder]
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

namespace {

std::vector<std::vector<uint8_t>> ReadSeeds(const char* pszFolder)
{
	std::vector<std::vector<uint8_t>> seeds;
	if (!pszFolder)
		return seeds;
	std::vector<std::filesystem::path> paths;
	for (const auto& entry : std::filesystem::directory_iterator(pszFolder))
		if (entry.is_regular_file())
			paths.push_back(entry.path());
	std::sort(paths.begin(), paths.end());
	for (const auto& path : paths) {
		std::ifstream file(path, std::ios::binary);
		seeds.emplace_back(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
	}
	return seeds;
}

// Bytes the rules treat specially turn up far more often than by chance.
uint8_t PickByte(std::mt19937& rng)
{
	static const char kInteresting[] = "\\\\\\\\/?*:|<>\"%s.- 0123AMPM";
	const unsigned nRoll = rng() % 16;
	if (nRoll == 0)
		return 0;
	if (nRoll < 10)
		return static_cast<uint8_t>(kInteresting[rng() % (sizeof(kInteresting) - 1)]);
	return static_cast<uint8_t>(rng());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize);

int main(int argc, char** argv)
{
	const long nCount = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 10000;
	const auto seeds = ReadSeeds(argc > 2 ? argv[2] : nullptr);
	for (const auto& seed : seeds)
		LLVMFuzzerTestOneInput(seed.data(), seed.size());

	std::mt19937 rng(20210307);
	std::vector<uint8_t> input;
	for (long n = 0; n < nCount; ++n) {
		// Half the inputs start from a seed and change a few bytes; the rest are fresh.
		if (!seeds.empty() && rng() % 2 == 0) {
			input = seeds[rng() % seeds.size()];
			const unsigned nEdits = 1 + rng() % 8;
			for (unsigned e = 0; e < nEdits; ++e) {
				const size_t nAt = input.empty() ? 0 : rng() % (input.size() + 1);
				switch (rng() % 3) {
				case 0:
					input.insert(input.begin() + static_cast<long>(nAt), PickByte(rng));
					break;
				case 1:
					if (nAt < input.size())
						input.erase(input.begin() + static_cast<long>(nAt));
					break;
				default:
					if (nAt < input.size())
						input[nAt] = PickByte(rng);
					break;
				}
			}
		} else {
			// Mostly short texts, now and then a long one.
			const size_t nLength = rng() % 8 == 0 ? rng() % 5000 : rng() % 128;
			input.resize(nLength);
			for (auto& byte : input)
				byte = PickByte(rng);
		}
		LLVMFuzzerTestOneInput(input.data(), input.size());
	}
	std::printf("%zu seeds and %ld generated inputs hold every property\n", seeds.size(), nCount);
	return 0;
}
