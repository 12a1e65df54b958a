#pragma once
// The server's answers to refused requests, in the users' language.
#include <QString>

#include "vocabulary/Limits.h"

namespace srv::msg {

// Every method: a company outside the caller's token
inline QString acessoEmpresa(const QString& company)
{
    return QStringLiteral("Acesso não autorizado à empresa %1.").arg(company);
}

// GetNotaFiscal
inline QString empresaDeveInf() { return QStringLiteral("Empresa deve ser informada."); }
inline QString criterioLongo(const QString& arg)
{
    return QStringLiteral("Critério de seleção inválido: o argumento %1 é longo demais.").arg(arg);
}
inline QString criterioTipoDest()
{
    return QStringLiteral("Critério de seleção inválido: o tipo de destinatário/remetente deve ser C (cliente), "
                          "F (fornecedor), L (filial) ou T (todos).");
}
inline QString criterioPeriodo()
{
    return QStringLiteral("Critério de seleção inválido: o indicador de período deve ser T (todas as datas) ou N "
                          "(período informado).");
}
inline QString criterioOperacao()
{
    return QStringLiteral("Critério de seleção inválido: a operação deve ser S (saída) ou E (entrada).");
}
inline QString criterioTipoOper()
{
    return QStringLiteral("Critério de seleção inválido: cada tipo de operação da lista deve ser a letra da operação "
                          "(S ou E) seguida do código do tipo, por exemplo S01;S05.");
}
inline QString criterioTiposDemais()
{
    return QStringLiteral("Critério de seleção inválido: a lista de tipos de operação tem itens demais.");
}

// SetCCe and the letter in general
inline QString nfNaceita() { return QStringLiteral("NF_NACEITA"); }
inline QString notaNaoInformada() { return QStringLiteral("Nota fiscal deve ser informada."); }
inline QString notaNaoEncontrada() { return QStringLiteral("Nota fiscal não encontrada."); }
inline QString notaNaoEncontrada(const QString& filial, const QString& lancto)
{
    return QStringLiteral("Nota fiscal não encontrada (filial %1, lançamento %2).").arg(filial, lancto);
}
inline QString deltaCampos()
{
    return QStringLiteral("As alterações recebidas não correspondem aos campos da carta de correção.");
}
inline QString deltaOutraNota()
{
    return QStringLiteral("As alterações recebidas referem-se a outra nota fiscal que não a informada.");
}
inline QString deltaDemais() { return QStringLiteral("A gravação contém alterações demais de uma só vez."); }
inline QString correcaoDeve() { return QStringLiteral("Descrição da correção deve ser informada."); }
inline QString sequenciaEsperada(const QString& seq)
{
    return QStringLiteral("A nova carta de correção deve ter a sequência %1; outro usuário pode ter alterado as "
                          "cartas desta nota fiscal. Atualize a lista e tente novamente.")
        .arg(seq);
}
inline QString limite20()
{
    return QStringLiteral("Operação Bloqueada! A nota fiscal já possui %1 cartas de correção, o máximo permitido.")
        .arg(cce::kMaxLettersPerInvoice);
}
inline QString cartaEmAberto(const QString& seq)
{
    return QStringLiteral("Operação Bloqueada! A carta de correção %1 desta nota fiscal ainda não foi aceita pela "
                          "SEFAZ; altere-a em vez de incluir uma nova.")
        .arg(seq);
}
inline QString somenteUltima()
{
    return QStringLiteral("Operação Bloqueada! Somente a última carta de correção da nota fiscal pode ser alterada "
                          "ou excluída.");
}
inline QString cceJaAceita()
{
    return QStringLiteral(
        "Operação Bloqueada! Carta de correção eletrônica aceita pela Secretaria da Fazenda (SEFAZ).");
}
inline QString cceEmVerificacao(const QString& seq)
{
    return QStringLiteral("Operação Bloqueada! A transmissão da carta de correção %1 aguarda a confirmação da SEFAZ; "
                          "consulte a situação antes de alterá-la ou excluí-la.")
        .arg(seq);
}
inline QString cceExcluida(const QString& seq)
{
    return QStringLiteral("A carta de correção %1 não existe mais; outro usuário a excluiu. Atualize a lista e "
                          "tente novamente.")
        .arg(seq);
}
inline QString cceAlterada(const QString& seq)
{
    return QStringLiteral("A carta de correção %1 foi alterada por outro usuário depois de carregada. Atualize a "
                          "lista e tente novamente.")
        .arg(seq);
}
inline QString chaveAlterada() { return QStringLiteral("A chave da carta de correção não pode ser alterada."); }
inline QString camposDoServidor()
{
    return QStringLiteral("Somente a descrição da correção pode ser informada; a situação, o protocolo e o envio de "
                          "e-mails da carta de correção são registrados pelo servidor.");
}

// getXmlEnvLote
inline QString semXmlLote()
{
    return QStringLiteral("Não há arquivo XML de falha no schema ou de rejeição para esta nota fiscal.");
}

// GetParamDFS
inline QString filialInvalida() { return QStringLiteral("Filial inválida: o código tem no máximo 4 caracteres."); }

// SendEmailCCe, SendEmailCCeTodos
inline QString emailNaoConfigurado()
{
    return QStringLiteral("O envio de e-mail das cartas de correção não está configurado neste servidor de "
                          "aplicação (seção [mail] de cce-server.ini). Nada foi enviado nem alterado.");
}
inline QString sequenciaEmailInvalida(const QString& seq)
{
    return QStringLiteral("Sequência da carta de correção inválida: \"%1\" (esperado de 01 a %2).")
        .arg(seq)
        .arg(cce::kMaxLettersPerInvoice);
}
inline QString pacoteSemChave() { return QStringLiteral("Pacote de notas fiscais sem CDFILIAL ou NRLANCTONF."); }

} // namespace srv::msg
