#include "nfe/Rejections.h"

#include <iterator>

namespace nfe {

namespace {

// clang-format off
const Rejection kTable[] = {
    {"108", "Serviço Paralisado Momentaneamente (curto prazo)", "A SEFAZ está fora do ar por instantes; transmita novamente em alguns minutos."},
    {"109", "Serviço Paralisado sem Previsão", "A SEFAZ está fora do ar sem previsão; transmita novamente mais tarde."},
    {"128", "Lote de evento processado", ""},
    {"135", "Evento registrado e vinculado a NF-e", ""},
    {"136", "Evento registrado, mas não vinculado a NF-e", ""},
    {"213", "Rejeição: CNPJ-Base do Autor difere do CNPJ-Base do Certificado Digital", "O certificado não pertence à empresa emitente: instale no servidor o certificado A1 da empresa que emitiu a nota."},
    {"214", "Rejeição: Tamanho da mensagem excedeu o limite estabelecido", "O lote ficou grande demais: transmita menos cartas de uma vez."},
    {"215", "Rejeição: Falha no schema XML", "A mensagem não seguiu o leiaute da SEFAZ: avise o suporte do sistema (o XML enviado fica guardado no lote)."},
    {"217", "Rejeição: NF-e não consta na base de dados da SEFAZ", "A SEFAZ não conhece esta NF-e: confira se a nota foi autorizada e se a chave de acesso está correta."},
    {"218", "Rejeição: NF-e já está cancelada na base de dados da SEFAZ", "A NF-e foi cancelada: uma carta de correção não pode ser registrada."},
    {"225", "Rejeição: Falha no Schema XML do lote de NFe", "O lote não seguiu o leiaute da SEFAZ: avise o suporte do sistema (o XML enviado fica guardado no lote)."},
    {"236", "Rejeição: Chave de Acesso com dígito verificador inválido", "A chave de acesso da nota está errada no cadastro: corrija a chave da NF-e antes de transmitir a carta."},
    {"238", "Rejeição: Cabeçalho - Versão do arquivo XML superior a Versão vigente", "A SEFAZ ainda não aceita esta versão do leiaute: avise o suporte do sistema."},
    {"239", "Rejeição: Cabeçalho - Versão do arquivo XML não suportada", "A SEFAZ não aceita mais esta versão do leiaute: atualize o sistema."},
    {"249", "Rejeição: UF da Chave de Acesso diverge da UF autorizadora", "A carta foi à SEFAZ de outro estado: confira a UF da inscrição estadual da nota e os endereços da SEFAZ no servidor."},
    {"250", "Rejeição: UF diverge da UF autorizadora", "A carta foi à SEFAZ de outro estado: confira a UF da inscrição estadual da nota e os endereços da SEFAZ no servidor."},
    {"252", "Rejeição: Ambiente informado diverge do Ambiente de recebimento", "A nota é de outro ambiente (produção ou homologação) que o do endereço usado: confira os endereços da SEFAZ no servidor."},
    {"280", "Rejeição: Certificado Transmissor inválido", "O certificado usado na conexão foi recusado: confira o arquivo do certificado A1 no servidor."},
    {"281", "Rejeição: Certificado Transmissor Data Validade", "O certificado usado na conexão está vencido ou ainda não vale: renove o certificado A1 da empresa."},
    {"282", "Rejeição: Certificado Transmissor sem CNPJ", "O certificado usado na conexão não é de pessoa jurídica: instale o certificado A1 da empresa."},
    {"283", "Rejeição: Certificado Transmissor - erro Cadeia de Certificação", "A SEFAZ não reconheceu a cadeia do certificado: exporte o certificado A1 com a cadeia completa."},
    {"284", "Rejeição: Certificado Transmissor revogado", "O certificado da empresa foi revogado: instale um certificado A1 válido."},
    {"285", "Rejeição: Certificado Transmissor difere ICP-Brasil", "O certificado não é da ICP-Brasil: instale um certificado A1 emitido na ICP-Brasil."},
    {"286", "Rejeição: Certificado Transmissor erro no acesso a LCR", "A SEFAZ não conseguiu conferir a revogação do certificado: transmita novamente mais tarde."},
    {"290", "Rejeição: Certificado Assinatura inválido", "O certificado da assinatura foi recusado: confira o arquivo do certificado A1 no servidor."},
    {"291", "Rejeição: Certificado Assinatura Data Validade", "O certificado da assinatura está vencido ou ainda não vale: renove o certificado A1 da empresa."},
    {"292", "Rejeição: Certificado Assinatura sem CNPJ", "O certificado da assinatura não é de pessoa jurídica: instale o certificado A1 da empresa."},
    {"293", "Rejeição: Certificado Assinatura - erro Cadeia de Certificação", "A SEFAZ não reconheceu a cadeia do certificado da assinatura: exporte o certificado A1 com a cadeia completa."},
    {"294", "Rejeição: Certificado Assinatura revogado", "O certificado da assinatura foi revogado: instale um certificado A1 válido."},
    {"295", "Rejeição: Certificado Assinatura difere ICP-Brasil", "O certificado da assinatura não é da ICP-Brasil: instale um certificado A1 emitido na ICP-Brasil."},
    {"296", "Rejeição: Certificado Assinatura erro no acesso a LCR", "A SEFAZ não conseguiu conferir a revogação do certificado: transmita novamente mais tarde."},
    {"297", "Rejeição: Assinatura difere do calculado", "A assinatura não confere com o conteúdo: transmita novamente; se persistir, avise o suporte do sistema."},
    {"298", "Rejeição: Assinatura difere do padrão do Sistema", "A assinatura não segue o padrão da SEFAZ: avise o suporte do sistema."},
    {"402", "Rejeição: XML da área de dados com codificação diferente de UTF-8", "A mensagem não estava em UTF-8: avise o suporte do sistema."},
    {"404", "Rejeição: Uso de prefixo de namespace não permitido", "A mensagem usou um prefixo de namespace: avise o suporte do sistema."},
    {"477", "Rejeição: Lote com eventos de órgãos diferentes", "O lote misturou eventos de estados diferentes: transmita novamente; se persistir, avise o suporte do sistema."},
    {"489", "Rejeição: CNPJ informado inválido (DV ou zeros)", "O CNPJ do emitente cadastrado na inscrição estadual é inválido: corrija o cadastro."},
    {"490", "Rejeição: CPF informado inválido (DV ou zeros)", "O CPF do emitente cadastrado na inscrição estadual é inválido: corrija o cadastro."},
    {"491", "Rejeição: O tpEvento informado inválido", "A SEFAZ não aceita este tipo de evento: avise o suporte do sistema."},
    {"492", "Rejeição: O verEvento informado inválido", "A SEFAZ não aceita esta versão do evento: avise o suporte do sistema."},
    {"493", "Rejeição: Evento não atende o Schema XML específico", "O texto da correção não cabe no leiaute (15 a 1000 caracteres, sem caracteres especiais): corrija o texto e transmita novamente."},
    {"494", "Rejeição: Chave de Acesso inexistente", "A SEFAZ não conhece esta NF-e: confira se a nota foi autorizada e se a chave de acesso está correta."},
    {"572", "Rejeição: Erro Atributo ID do evento não corresponde a concatenação dos campos (\"ID\" + tpEvento + chNFe + nSeqEvento)", "O evento foi montado com identificação errada: avise o suporte do sistema."},
    {"573", "Rejeição: Duplicidade de evento", "A sequência já foi usada: a SEFAZ já registrou uma carta com esta sequência; o servidor confere qual é e traz a carta registrada."},
    {"574", "Rejeição: O autor do evento diverge do emissor da NF-e", "O certificado não pertence à empresa emitente: a carta deve ser assinada com o certificado do CNPJ que emitiu a nota."},
    {"577", "Rejeição: A data do evento não pode ser menor que a data de emissão da NF-e", "O relógio do servidor está atrasado: acerte a data e a hora do servidor e transmita novamente."},
    {"578", "Rejeição: A data do evento não pode ser maior que a data do processamento", "O relógio do servidor está adiantado: acerte a data e a hora do servidor e transmita novamente."},
    {"579", "Rejeição: A data do evento não pode ser menor que a data de autorização da NF-e", "A carta ficou datada antes da autorização da nota: acerte o relógio do servidor e transmita novamente."},
    {"580", "Rejeição: O evento exige uma NF-e autorizada", "A NF-e não está autorizada (foi cancelada ou denegada): uma carta de correção não pode ser registrada."},
    {"587", "Rejeição: Usar somente o namespace padrão da NF-e", "A mensagem usou outro namespace: avise o suporte do sistema."},
    {"588", "Rejeição: Não é permitida a presença de caracteres de edição no início/fim da mensagem ou entre as tags da mensagem", "A mensagem tinha espaços ou quebras entre as tags: avise o suporte do sistema."},
    {"594", "Rejeição: O número de sequência do evento informado é maior que o permitido", "Uma NF-e aceita no máximo 20 cartas de correção: não é possível registrar outra nesta nota."},
    {"596", "Rejeição: Evento apresentado fora do prazo", "Terminou o prazo para carta de correção desta nota: ela não pode mais ser registrada."},
    {"656", "Rejeição: Consumo Indevido", "A SEFAZ bloqueou o acesso por excesso de chamadas repetidas: aguarde uma hora antes de transmitir novamente."},
    {"784", "Rejeição: NFC-e não permite o evento de Carta de Correção", "NFC-e (modelo 65) não aceita carta de correção: se preciso, cancele a nota e emita outra."},
    {"999", "Rejeição: Erro não catalogado", "Falha interna da SEFAZ: transmita novamente mais tarde."},
};
// clang-format on

} // namespace

const Rejection* rejection(const QString& cStat)
{
    for (const Rejection& r : kTable)
        if (cStat == QLatin1String(r.cStat))
            return &r;
    return nullptr;
}

QString publishedText(const QString& cStat)
{
    const Rejection* r = rejection(cStat);
    return r ? QString::fromUtf8(r->xMotivo) : QString();
}

QString explainAnswer(const QString& cStat, const QString& xMotivo, int maxChars)
{
    const Rejection* r = rejection(cStat);
    const QString advice = r ? QString::fromUtf8(r->advice) : QString();
    QString said = cStat.isEmpty() ? xMotivo.trimmed() : cStat + QStringLiteral(" - ") + xMotivo.trimmed();
    if (advice.isEmpty())
        return said.left(maxChars);
    const QString tail = QStringLiteral(". ") + advice;
    if (said.size() + tail.size() > maxChars) {
        const qsizetype room = qMax<qsizetype>(0, maxChars - tail.size() - 1);
        said = said.left(room) + QChar(0x2026);
    }
    if (said.endsWith(QLatin1Char('.')))
        said.chop(1);
    return (said + tail).left(maxChars);
}

} // namespace nfe
