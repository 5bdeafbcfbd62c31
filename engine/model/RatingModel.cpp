#include "RatingModel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <unordered_map>

#include <fcntl.h>
#include <unistd.h>

namespace quillory::model {

std::string ModelSettings::Describe() const
{
    char text[256];
    std::snprintf(text, sizeof text, "bias-als sweeps=%d regUser=%g regItem=%g", biasSweeps, biasRegUser,
                  biasRegItem);
    return text;
}

ModelSettings ModelSettings::Defaults()
{
    return ModelSettings{};
}

namespace {

constexpr char kMagic[8] = {'Q', 'L', 'R', 'M', 'O', 'D', 'E', 'L'};
constexpr std::uint32_t kFormatVersion = 1;

std::uint64_t Fnv1a(const unsigned char* data, std::size_t size)
{
    std::uint64_t hash = 1469598103934665603ull;
    for (std::size_t i = 0; i < size; ++i) {
        hash ^= data[i];
        hash *= 1099511628211ull;
    }
    return hash;
}

double Clamp(double value)
{
    if (!(value == value))
        return 3.0;
    return std::clamp(value, 1.0, 5.0);
}

} // namespace

struct CRatingModel::Impl {
    ModelSettings settings;
    bool trained = false;
    std::uint32_t numUsers = 0;
    std::uint32_t numItems = 0;
    float mean = 3.0f;
    std::vector<float> userBias;
    std::vector<float> itemBias;
    // Users folded in beyond the trained range.
    std::unordered_map<std::uint32_t, float> extraUserBias;

    float UserBias(std::uint32_t user) const
    {
        if (user < numUsers)
            return userBias[user];
        auto it = extraUserBias.find(user);
        return it == extraUserBias.end() ? 0.0f : it->second;
    }
};

CRatingModel::CRatingModel(ModelSettings settings) : m_impl(std::make_unique<Impl>())
{
    m_impl->settings = std::move(settings);
}

CRatingModel::~CRatingModel() = default;
CRatingModel::CRatingModel(CRatingModel&&) noexcept = default;
CRatingModel& CRatingModel::operator=(CRatingModel&&) noexcept = default;

const ModelSettings& CRatingModel::Settings() const
{
    return m_impl->settings;
}

void CRatingModel::Train(std::span<const Rating> ratings, std::uint32_t numUsers, std::uint32_t numItems)
{
    Impl& m = *m_impl;
    m.numUsers = numUsers;
    m.numItems = numItems;
    m.userBias.assign(numUsers, 0.0f);
    m.itemBias.assign(numItems, 0.0f);
    m.extraUserBias.clear();
    double sum = 0.0;
    for (const Rating& r : ratings)
        sum += r.value;
    m.mean = ratings.empty() ? 3.0f : static_cast<float>(sum / static_cast<double>(ratings.size()));

    std::vector<double> acc;
    std::vector<std::uint32_t> cnt;
    for (int sweep = 0; sweep < m.settings.biasSweeps; ++sweep) {
        acc.assign(numItems, 0.0);
        cnt.assign(numItems, 0);
        for (const Rating& r : ratings) {
            acc[r.item] += r.value - m.mean - m.userBias[r.user];
            ++cnt[r.item];
        }
        for (std::uint32_t i = 0; i < numItems; ++i)
            m.itemBias[i] = static_cast<float>(acc[i] / (cnt[i] + m.settings.biasRegItem));
        acc.assign(numUsers, 0.0);
        cnt.assign(numUsers, 0);
        for (const Rating& r : ratings) {
            acc[r.user] += r.value - m.mean - m.itemBias[r.item];
            ++cnt[r.user];
        }
        for (std::uint32_t u = 0; u < numUsers; ++u)
            m.userBias[u] = static_cast<float>(acc[u] / (cnt[u] + m.settings.biasRegUser));
    }
    m.trained = true;
}

double CRatingModel::PredictBaseline(std::uint32_t user, std::uint32_t item) const
{
    const Impl& m = *m_impl;
    if (item >= m.numItems)
        return Clamp(m.mean);
    return Clamp(m.mean + m.itemBias[item] + m.UserBias(user));
}

double CRatingModel::Predict(std::uint32_t user, std::uint32_t item) const
{
    return PredictBaseline(user, item);
}

void CRatingModel::FoldInUser(std::uint32_t user, UserRatings ratings)
{
    Impl& m = *m_impl;
    double acc = 0.0;
    std::size_t count = 0;
    for (const auto& [item, value] : ratings) {
        if (item >= m.numItems)
            continue;
        acc += value - m.mean - m.itemBias[item];
        ++count;
    }
    float bias = static_cast<float>(acc / (count + m.settings.biasRegUser));
    if (user < m.numUsers)
        m.userBias[user] = bias;
    else
        m.extraUserBias[user] = bias;
}

void CRatingModel::Save(const std::filesystem::path& path, std::string_view fingerprint) const
{
    const Impl& m = *m_impl;
    std::vector<unsigned char> buffer;
    auto put = [&buffer](const void* data, std::size_t size) {
        const auto* bytes = static_cast<const unsigned char*>(data);
        buffer.insert(buffer.end(), bytes, bytes + size);
    };
    put(kMagic, sizeof kMagic);
    put(&kFormatVersion, sizeof kFormatVersion);
    auto fpSize = static_cast<std::uint32_t>(fingerprint.size());
    put(&fpSize, sizeof fpSize);
    put(fingerprint.data(), fingerprint.size());
    put(&m.numUsers, sizeof m.numUsers);
    put(&m.numItems, sizeof m.numItems);
    put(&m.mean, sizeof m.mean);
    put(m.userBias.data(), m.userBias.size() * sizeof(float));
    put(m.itemBias.data(), m.itemBias.size() * sizeof(float));
    std::uint64_t sum = Fnv1a(buffer.data(), buffer.size());
    put(&sum, sizeof sum);

    std::filesystem::path tmp = path;
    tmp += ".tmp";
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        throw std::runtime_error("cannot create " + tmp.string());
    std::size_t written = 0;
    while (written < buffer.size()) {
        ssize_t n = ::write(fd, buffer.data() + written, buffer.size() - written);
        if (n < 0) {
            ::close(fd);
            std::filesystem::remove(tmp);
            throw std::runtime_error("cannot write " + tmp.string());
        }
        written += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        std::filesystem::remove(tmp);
        throw std::runtime_error("cannot write " + tmp.string());
    }
    std::error_code ec;
    std::filesystem::rename(tmp, path, ec);
    if (ec) {
        std::filesystem::remove(tmp);
        throw std::runtime_error("cannot replace " + path.string() + ": " + ec.message());
    }
}

bool CRatingModel::Load(const std::filesystem::path& path, std::string_view fingerprint)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    in.seekg(0, std::ios::end);
    auto size = static_cast<std::size_t>(in.tellg());
    in.seekg(0);
    std::vector<unsigned char> buffer(size);
    if (!in.read(reinterpret_cast<char*>(buffer.data()), static_cast<std::streamsize>(size)))
        return false;
    if (size < sizeof kMagic + 8 + 8)
        return false;
    std::uint64_t stored;
    std::memcpy(&stored, buffer.data() + size - sizeof stored, sizeof stored);
    if (Fnv1a(buffer.data(), size - sizeof stored) != stored)
        return false;
    std::size_t pos = 0;
    std::size_t end = size - sizeof stored;
    auto get = [&](void* out, std::size_t n) {
        if (end - pos < n)
            return false;
        std::memcpy(out, buffer.data() + pos, n);
        pos += n;
        return true;
    };
    char magic[8];
    std::uint32_t version = 0, fpSize = 0;
    if (!get(magic, 8) || std::memcmp(magic, kMagic, 8) != 0 || !get(&version, 4) || version != kFormatVersion ||
        !get(&fpSize, 4) || fpSize != fingerprint.size() || end - pos < fpSize ||
        std::memcmp(buffer.data() + pos, fingerprint.data(), fpSize) != 0)
        return false;
    pos += fpSize;
    Impl loaded;
    loaded.settings = m_impl->settings;
    if (!get(&loaded.numUsers, 4) || !get(&loaded.numItems, 4) || !get(&loaded.mean, 4))
        return false;
    std::size_t need = (std::size_t(loaded.numUsers) + loaded.numItems) * sizeof(float);
    if (end - pos != need)
        return false;
    loaded.userBias.resize(loaded.numUsers);
    loaded.itemBias.resize(loaded.numItems);
    get(loaded.userBias.data(), loaded.numUsers * sizeof(float));
    get(loaded.itemBias.data(), loaded.numItems * sizeof(float));
    loaded.trained = true;
    *m_impl = std::move(loaded);
    return true;
}

} // namespace quillory::model
